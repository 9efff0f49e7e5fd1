"""Writes the documents of the document tests into the directory given,
each through the library its format's users write it with: python-docx,
openpyxl, odfpy and reportlab (a .pptx from parts written with zipfile,
since Debian has no python-pptx), and the hostile containers with zipfile.
A document whose module is missing is left out; the tests skip it."""
import os
import sys
import zipfile
import zlib

OUT = sys.argv[1]


def path(name):
    return os.path.join(OUT, name)


def make_docx():
    import docx
    from docx.opc.constants import RELATIONSHIP_TYPE as RT
    from docx.oxml.shared import OxmlElement, qn

    document = docx.Document()
    document.add_paragraph("Grüße aus München")
    paragraph = document.add_paragraph("Die Straße ist schön, siehe ")
    rel_id = document.part.relate_to("https://example.org/docx-link", RT.HYPERLINK,
                                     is_external=True)
    link = OxmlElement("w:hyperlink")
    link.set(qn("r:id"), rel_id)
    run = OxmlElement("w:r")
    text = OxmlElement("w:t")
    text.text = "Verweis"
    run.append(text)
    link.append(run)
    paragraph._p.append(link)
    document.sections[0].header.paragraphs[0].text = "Kopfzeile"
    document.core_properties.author = "Anna Müller"
    document.core_properties.last_modified_by = "Jürgen Weiß"
    document.save(path("sample.docx"))


def make_xlsx():
    import openpyxl

    book = openpyxl.Workbook()
    sheet = book.active
    sheet["A1"] = "Haus"
    sheet["B1"] = "Bäume"
    sheet["A2"] = 42
    sheet["A3"] = "Verweis"
    sheet["A3"].hyperlink = "https://example.org/xlsx-link"
    second = book.create_sheet("Zweites")
    second["A1"] = "Wolke"
    book.properties.creator = "Clara Schmidt"
    book.save(path("sample.xlsx"))


def make_odf():
    from odf.dc import Creator
    from odf.meta import InitialCreator
    from odf.opendocument import OpenDocumentSpreadsheet, OpenDocumentText
    from odf.table import Table, TableCell, TableRow
    from odf.text import A, H, LineBreak, P, S, Span

    text = OpenDocumentText()
    text.text.addElement(H(outlinelevel=1, text="Überschrift"))
    first = P(text="Erster Absatz mit")
    first.addElement(S(c=3))
    first.addElement(Span(text="Öl "))
    first.addElement(A(href="https://example.org/odt-link", text="Verweis"))
    first.addElement(LineBreak())
    first.addElement(Span(text="neue Zeile"))
    text.text.addElement(first)
    text.text.addElement(P(text="Zweiter Absatz"))
    text.meta.addElement(InitialCreator(text="Dieter Groß"))
    text.meta.addElement(Creator(text="Eva Kühn"))
    text.save(path("sample.odt"))

    sheet = OpenDocumentSpreadsheet()
    table = Table(name="Blatt")
    for words in (("Apfel", "Birne"), ("Kirsche", "Pflaume")):
        row = TableRow()
        for word in words:
            cell = TableCell()
            cell.addElement(P(text=word))
            row.addElement(cell)
        table.addElement(row)
    sheet.spreadsheet.addElement(table)
    sheet.meta.addElement(InitialCreator(text="Fritz Bär"))
    sheet.save(path("sample.ods"))


def make_pdfs():
    from reportlab.pdfgen import canvas

    def write(name, creator):
        pdf = canvas.Canvas(path(name))
        pdf.setAuthor("Anna Müller")
        pdf.setCreator(creator)
        pdf.drawString(72, 750, "Grüße aus München")
        pdf.drawString(72, 730, "Die Straße ist schön")
        pdf.linkURL("https://example.org/pdf-link", (72, 700, 200, 715), relative=0)
        pdf.showPage()
        pdf.drawString(72, 750, "Zweite Seite über Äpfel")
        pdf.linkURL("https://example.org/second-page", (72, 700, 200, 715), relative=0)
        pdf.showPage()
        pdf.save()

    write("sample.pdf", "Jürgen Weiß")
    write("software.pdf", "Microsoft® Word für Microsoft 365")


def slide(words):
    runs = "".join('<a:p><a:r><a:t>%s</a:t></a:r></a:p>' % word for word in words)
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<p:sld xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" '
            'xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main">'
            '<p:cSld><p:spTree><p:sp><p:txBody>%s</p:txBody></p:sp></p:spTree></p:cSld>'
            '</p:sld>' % runs)


def make_pptx():
    rels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    with zipfile.ZipFile(path("sample.pptx"), "w", zipfile.ZIP_DEFLATED) as pptx:
        pptx.writestr("[Content_Types].xml", '<?xml version="1.0"?><Types xmlns='
                      '"http://schemas.openxmlformats.org/package/2006/content-types"/>')
        pptx.writestr("ppt/presentation.xml", '<?xml version="1.0"?><p:presentation xmlns:p='
                      '"http://schemas.openxmlformats.org/presentationml/2006/main"/>')
        # Slide 10 is written first: the order is the slides' numbers.
        pptx.writestr("ppt/slides/slide10.xml", slide(["Zehnte Folie"]))
        pptx.writestr("ppt/slides/slide1.xml", slide(["Erste Folie", "Größe"]))
        pptx.writestr("ppt/slides/slide2.xml", slide(["Zweite Folie"]))
        pptx.writestr(
            "ppt/slides/_rels/slide2.xml.rels",
            '<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/'
            'package/2006/relationships"><Relationship Id="rId1" Type="%s/hyperlink" '
            'Target="https://example.org/pptx-link" TargetMode="External"/>'
            '<Relationship Id="rId2" Type="%s/image" Target="https://example.org/bild.png" '
            'TargetMode="External"/><Relationship Id="rId3" Type="%s/slideLayout" '
            'Target="../slideLayouts/slideLayout1.xml"/></Relationships>' % (rels, rels, rels))
        pptx.writestr(
            "docProps/core.xml",
            '<?xml version="1.0"?><cp:coreProperties xmlns:cp="http://schemas.openxmlformats.'
            'org/package/2006/metadata/core-properties" xmlns:dc="http://purl.org/dc/elements/'
            '1.1/"><dc:creator> Hanna Öztürk </dc:creator><cp:lastModifiedBy>Hanna Öztürk'
            '</cp:lastModifiedBy></cp:coreProperties>')


def make_hostile():
    # A document.xml of 1 GiB, mostly spaces, deflated to about 1 MiB and
    # declared honestly. It is well-formed as far as a reader gets.
    with zipfile.ZipFile(path("bomb.docx"), "w", zipfile.ZIP_DEFLATED) as bomb:
        with bomb.open("word/document.xml", "w") as entry:
            start = ('<?xml version="1.0"?><w:document xmlns:w="http://schemas.openxmlformats'
                     '.org/wordprocessingml/2006/main"><w:body>').encode()
            spaces = b" " * (1 << 20)
            entry.write(start + spaces[len(start):])
            for _ in range(1023):
                entry.write(spaces)
    # The same inflation behind declared sizes of 1000 bytes.
    with open(path("bomb.docx"), "rb") as honest:
        data = bytearray(honest.read())
    size = (1 << 30).to_bytes(4, "little")
    small = (1000).to_bytes(4, "little")
    assert data[22:26] == size
    data[22:26] = small
    central = data.rindex(b"PK\x01\x02")
    assert data[central + 24:central + 28] == size
    data[central + 24:central + 28] = small
    with open(path("lying-bomb.docx"), "wb") as lying:
        lying.write(data)

    laughs = ['<!ENTITY lol0 "lol">'] + [
        '<!ENTITY lol%d "%s">' % (i, ("&lol%d;" % (i - 1)) * 10) for i in range(1, 10)]
    external = '<!ENTITY secret SYSTEM "file:///etc/passwd">'
    for name, declarations, reference in (("laughs.docx", "".join(laughs), "&lol9;"),
                                          ("external.docx", external, "&secret;")):
        with zipfile.ZipFile(path(name), "w", zipfile.ZIP_DEFLATED) as docx:
            docx.writestr("word/document.xml",
                          '<?xml version="1.0"?><!DOCTYPE w:document [%s]><w:document xmlns:w='
                          '"http://schemas.openxmlformats.org/wordprocessingml/2006/main">'
                          '<w:body><w:p><w:r><w:t>%s</w:t></w:r></w:p></w:body></w:document>'
                          % (declarations, reference))


for maker in (make_docx, make_xlsx, make_odf, make_pdfs, make_pptx, make_hostile):
    try:
        maker()
    except ImportError as missing:
        print("left out by %s: %s" % (maker.__name__, missing))
