#pragma once

#include <string>

// What the backend takes from the PDF it files, as poppler's pdfinfo reports it: the document's own title and
// whether its first page, turned as it is shown, is wider than high. pdfinfo comes with CUPS's PDF filters.
struct PdfFacts
{
    bool known = false; // false: pdfinfo is missing or could not read the file
    std::string title; // UTF-8, empty when the document has none
    bool landscape = false;

    // Runs pdfinfo on the open file (read from its start) as the calling user, bounded in time.
    static PdfFacts read(int pdfFd);
};
