// Which names in a document's metadata are people. Office and OpenDocument
// files keep the people (creator, last editor) apart from the software
// (Application, meta:generator), and only the people's fields are read. A
// PDF's Creator, though, is meant for the program that made the original
// and only sometimes holds a person: it counts as software when it equals
// the Producer (any ASCII case), holds a digit (a version: "Writer 7.4",
// "pdfTeX-1.40"), a word with "pdf" in it ("PDFCreator", "wkhtmltopdf"), or
// one of the words in kSoftwareWords ("Microsoft® Word für Microsoft 365",
// "LaTeX with hyperref"), any ASCII case. Words are runs of ASCII letters.
#pragma once

#include <string_view>

bool NamesSoftware(std::string_view creator, std::string_view producer);
