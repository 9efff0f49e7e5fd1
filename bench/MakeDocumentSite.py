"""Writes the documents of bench_documents into the directory given, each
through the library its format's users write it with (reportlab,
python-docx, odfpy, openpyxl), from fixed seeds:

  big.pdf             German-looking text on many pages, compressed as
                      reportlab writes it, until its text passes the MB given
  big.html            a page linking big.pdf
  docs/NNN.EXT        100 documents of a few KB of text: 40 PDF, 30 .docx,
                      20 .odt, 10 .xlsx, interleaved, each with one author
                      (70 people; documents 70 to 99 repeat the authors of
                      0 to 29, each in a document of the same format)
  docs/index.html     a page linking the 100 documents
  expected-names.txt  the distinct authors, one per line, UTF-8

Prints the big PDF's pages and text bytes."""
import os
import random
import sys

OUT = sys.argv[1]
BIG_TEXT_BYTES = int(float(sys.argv[2]) * 1024 * 1024)

SYLLABLES = ["haus", "gar", "ten", "welt", "stra", "ße", "mül", "ler", "äp", "fel", "be", "ge",
             "ver", "ung", "keit", "lich", "sch", "ön", "ein", "der", "die", "und", "ist", "mit",
             "für", "wer", "den", "sam", "an", "ab", "berg", "wald", "zeit", "kraft", "lö", "sung",
             "brü", "cke", "tür", "ma", "schi", "ne", "rat", "stadt", "bahn", "hof", "gleis"]
FIRST = ["Anna", "Jürgen", "Clara", "Dieter", "Eva", "Fritz", "Hanna", "Ingrid", "Jörg", "Karl",
         "Lena", "Martin", "Nina", "Otto", "Petra", "Rüdiger", "Sabine", "Thomas", "Ute", "Volker"]
LAST = ["Müller", "Weiß", "Schmidt", "Groß", "Kühn", "Bär", "Öztürk", "Schäfer", "Becker", "Wagner",
        "Hoffmann", "Krüger", "Köhler", "Lehmann", "Jäger", "Vogel", "Förster", "Brandt"]
KINDS = ["pdf"] * 4 + ["docx"] * 3 + ["odt"] * 2 + ["xlsx"]  # by document number mod 10
DOCUMENTS = 100
PEOPLE = 70


def vocabulary(rnd):
    words = []
    while len(words) < 20000:
        word = "".join(rnd.choice(SYLLABLES) for _ in range(rnd.randint(1, 4)))
        words.append(word.capitalize() if rnd.random() < 0.2 else word)
    return words


class Text:
    """Lines of words drawn by Zipf's law from a fixed vocabulary."""

    def __init__(self, seed):
        self.rnd = random.Random(seed)
        self.words = vocabulary(self.rnd)
        self.weights = [1.0 / (i + 1) for i in range(len(self.words))]

    def lines(self, count, words_per_line=14):
        words = self.rnd.choices(self.words, self.weights, k=count * words_per_line)
        return [" ".join(words[i:i + words_per_line])
                for i in range(0, len(words), words_per_line)]


def path(*parts):
    return os.path.join(OUT, *parts)


def link_page(title, names):
    links = "".join('<li><a href="%s">%s</a></li>\n' % (name, name) for name in names)
    return ("<html><head><meta charset=\"utf-8\"><title>%s</title></head><body>\n"
            "<h1>%s</h1>\n<ul>\n%s</ul>\n</body></html>\n" % (title, title, links))


def write_text(name, text):
    with open(path(name), "w", encoding="utf-8") as out:
        out.write(text)


def make_big_pdf(text):
    from reportlab.pdfgen import canvas

    pdf = canvas.Canvas(path("big.pdf"))
    pdf.setAuthor("Anna Müller")
    pdf.setCreator("Anna Müller")
    written = pages = 0
    while written < BIG_TEXT_BYTES:
        lines = text.lines(60)
        block = pdf.beginText(40, 800)
        block.setFont("Helvetica", 9)
        for line in lines:
            block.textLine(line)
            written += len(line.encode()) + 1
        pdf.drawText(block)
        pdf.showPage()
        pages += 1
    pdf.save()
    write_text("big.html", link_page("Handbuch", ["big.pdf"]))
    return pages, written


def make_pdf(name, author, lines):
    from reportlab.pdfgen import canvas

    pdf = canvas.Canvas(name)
    pdf.setAuthor(author)
    pdf.setCreator(author)
    block = pdf.beginText(40, 800)
    block.setFont("Helvetica", 9)
    for line in lines:
        block.textLine(line)
    pdf.drawText(block)
    pdf.showPage()
    pdf.save()


def make_docx(name, author, lines):
    import docx

    document = docx.Document()
    for line in lines:
        document.add_paragraph(line)
    document.core_properties.author = author
    document.core_properties.last_modified_by = author
    document.save(name)


def make_odt(name, author, lines):
    from odf.dc import Creator
    from odf.meta import InitialCreator
    from odf.opendocument import OpenDocumentText
    from odf.text import P

    document = OpenDocumentText()
    for line in lines:
        document.text.addElement(P(text=line))
    document.meta.addElement(InitialCreator(text=author))
    document.meta.addElement(Creator(text=author))
    document.save(name)


def make_xlsx(name, author, lines):
    import openpyxl

    book = openpyxl.Workbook()
    sheet = book.active
    for row, line in enumerate(lines, start=1):
        for column, word in enumerate(line.split(), start=1):
            sheet.cell(row=row, column=column, value=word)
    book.properties.creator = author
    book.properties.lastModifiedBy = author
    book.save(name)


def make_site(text):
    makers = {"pdf": make_pdf, "docx": make_docx, "odt": make_odt, "xlsx": make_xlsx}
    people = ["%s %s" % (FIRST[i % len(FIRST)], LAST[(i * 7) % len(LAST)]) for i in range(PEOPLE)]
    assert len(set(people)) == PEOPLE
    os.makedirs(path("docs"), exist_ok=True)
    names = []
    for number in range(DOCUMENTS):
        kind = KINDS[number % 10]
        name = "%03d.%s" % (number, kind)
        # About 3 KB of text.
        makers[kind](path("docs", name), people[number % PEOPLE], text.lines(25))
        names.append(name)
    write_text(os.path.join("docs", "index.html"), link_page("Dokumente", names))
    write_text("expected-names.txt", "".join(person + "\n" for person in people))


pages, written = make_big_pdf(Text(5))
make_site(Text(6))
print(pages, written)
