// tirasel-cli --documents against nginx: the text of PDF, Office and
// OpenDocument files made by their users' libraries is harvested with the
// pages', their authors go to --names, a link inside a PDF is followed, and
// hostile documents (a zip bomb, random bytes named .pdf) fail alone.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "CliProcess.h"
#include "NginxServer.h"
#include "SplitMix.h"
#include "TempDir.h"

namespace {

using clitest::Result;
using clitest::RunCli;

bool Contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// A PDF whose link leads back into the site, as reportlab writes it.
constexpr const char* kLinkingPdf = R"PY(
import sys
from reportlab.pdfgen import canvas
pdf = canvas.Canvas(sys.argv[1])
pdf.setAuthor("Chris Kunde")
pdf.drawString(72, 750, "Preisliste Sommerreifen")
pdf.linkURL(sys.argv[2], (72, 700, 200, 715), relative=0)
pdf.showPage()
pdf.save()
)PY";

bool RunPython(const std::vector<std::string>& args, const std::string& log) {
  testsupport::ChildProcess python;
  std::vector<std::string> argv = {"/usr/bin/python3"};
  argv.insert(argv.end(), args.begin(), args.end());
  python.Start(argv, log);
  const int status = python.WaitExit(120000);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(CliDocuments, TextAndAuthorsOfDocumentsAndHostileOnesFailAlone) {
  TTempDir dir;
  const std::string made = dir.Path("made");
  std::filesystem::create_directories(made);
  if (!RunPython({TIRASEL_MAKE_DOCUMENTS, made}, dir.Path("make.log")) ||
      !std::filesystem::exists(made + "/sample.pdf")) {
    GTEST_SKIP() << "the documents need /usr/bin/python3 with its modules: "
                 << dir.Read("make.log");
  }
  testsupport::NginxServer web;
  std::string links;
  for (const char* name : {"sample.pdf", "sample.docx", "sample.odt", "sample.xlsx",
                           "bomb.docx", "software.pdf"}) {
    web.AddFile(std::string("/d/") + name, testsupport::ReadFile(made + "/" + name));
    links += std::string("<a href=\"") + name + "\">" + name + "</a> ";
  }
  std::string noise(3000, ' ');
  testsupport::SplitMix64 random(5);
  for (char& c : noise) c = static_cast<char>(random.Below(256));
  web.AddFile("/d/random.pdf", "%PDF-1.4\n" + noise);
  web.AddFile("/d/linked.html", "<p>Verlinkt aus PDF</p>");
  web.AddFile("/d/index.html", "<p>Startseite</p>" + links +
                                   "<a href=\"random.pdf\">kaputt</a> "
                                   "<a href=\"linking.pdf\">Liste</a>");
  web.Start();
  ASSERT_TRUE(RunPython({"-c", kLinkingPdf, web.Root().string() + "/d/linking.pdf",
                         web.Url("/d/linked.html")},
                        dir.Path("linking.log")))
      << dir.Read("linking.log");

  const Result run = RunCli({"--documents", "--names", dir.Path("names.txt"), "--parallel", "1",
                             web.Url("/d/index.html")});
  EXPECT_EQ(run.status, 0) << run.err;
  // Every kind's text, as the libraries wrote it.
  for (const char* word : {"M\xc3\xbcnchen", "Stra\xc3\x9f" "e", "\xc3\x84pfel", "Kopfzeile",
                           "Preisliste", "Sommerreifen", "Verlinkt"}) {
    EXPECT_TRUE(Contains(run.out, std::string("\n") + word + "\n")) << word << "\n" << run.out;
  }
  // The people of the metadata, each once; software is no person.
  const std::string names = dir.Read("names.txt");
  EXPECT_TRUE(Contains(names, "Anna M\xc3\xbcller\n")) << names;
  EXPECT_TRUE(Contains(names, "J\xc3\xbcrgen Wei\xc3\x9f\n")) << names;
  EXPECT_TRUE(Contains(names, "Chris Kunde\n")) << names;
  EXPECT_FALSE(Contains(names, "Microsoft")) << names;
  EXPECT_EQ(names.find("Anna"), names.rfind("Anna"));
  // The bomb and the noise fail alone, each with its line; the run goes on.
  EXPECT_TRUE(Contains(run.err, "/d/bomb.docx\nDokument nicht lesbar: ")) << run.err;
  EXPECT_TRUE(Contains(run.err, "/d/random.pdf\nDokument nicht lesbar: ")) << run.err;
  EXPECT_TRUE(Contains(run.err, "/d/linked.html\n")) << run.err;

  // Without --documents the documents are not even fetched.
  web.SettleLog();
  const size_t before = web.LoggedRequests();
  const Result pages = RunCli({"--parallel", "1", web.Url("/d/index.html")});
  EXPECT_EQ(web.LoggedRequests() - before, 1u);
  EXPECT_FALSE(Contains(pages.out, "M\xc3\xbcnchen"));
  EXPECT_EQ(RunCli({"--names", dir.Path("n.txt"), web.Url("/d/index.html")}).status, 2);
}

}  // namespace
