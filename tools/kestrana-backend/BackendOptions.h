#pragma once

#include "JobWriter.h"

// The job options CUPS hands a backend (title, copies, the option string) as the client's job parameters.
// A printer option of the PPD (ColorModel, Duplex, PageSize, Collate) wins over its IPP counterpart. The
// orientation is not among them: CUPS's filters have already turned the pages (landscape, number-up).
class BackendOptions
{
public:
    static PrintJobOptions parse(const char* title, const char* copies, const char* options);
    // The name of the file printed, as the program gave it to CUPS (document-name-supplied); empty when none.
    static std::string documentName(const char* options);
};
