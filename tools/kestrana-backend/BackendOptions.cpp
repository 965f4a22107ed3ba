#include "BackendOptions.h"

#include <cups/cups.h>
#include <cups/pwg.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <strings.h>

namespace {
bool same(const char* a, const char* b)
{
    return a && ::strcasecmp(a, b) == 0;
}

bool isTrue(const char* value)
{
    return same(value, "true") || same(value, "yes") || same(value, "on") || same(value, "1");
}

// Hundredths of a millimetre, rounded to tenths.
bool mediaSize(const char* name, PrintJobOptions* job)
{
    pwg_media_t* media = pwgMediaForPPD(name);
    if (!media) {
        media = pwgMediaForPWG(name);
    }
    if (!media) {
        media = pwgMediaForLegacy(name);
    }
    if (!media || media->width <= 0 || media->length <= 0) {
        return false;
    }
    job->pageWidth = (media->width + 5) / 10;
    job->pageHeight = (media->length + 5) / 10;
    return true;
}
} // namespace

PrintJobOptions BackendOptions::parse(const char* title, const char* copies, const char* optionText)
{
    PrintJobOptions job;
    job.docName = title ? title : "";
    const long count = copies ? std::strtol(copies, nullptr, 10) : 1;
    job.copies = count >= 1 && count <= 9999 ? static_cast<int>(count) : 1;

    cups_option_t* options = nullptr;
    const int optionCount = cupsParseOptions(optionText ? optionText : "", 0, &options);
    auto get = [&](const char* name) { return cupsGetOption(name, optionCount, options); };

    // Colour unless the job asks for grey: a program that says nothing (Qt's printing) means the document as it is.
    if (const char* model = get("ColorModel")) {
        job.color = !(same(model, "Gray") || same(model, "Grey") || same(model, "Grayscale") || same(model, "Mono")
                      || same(model, "Monochrome") || same(model, "KGray") || same(model, "Black"));
    } else if (const char* mode = get("print-color-mode")) {
        job.color = !(same(mode, "monochrome") || same(mode, "bi-level") || same(mode, "process-monochrome")
                      || same(mode, "process-bi-level") || same(mode, "auto-monochrome"));
    } else {
        job.color = true;
    }

    const char* duplex = get("Duplex");
    const char* sides = get("sides");
    if (same(duplex, "DuplexNoTumble") || (!duplex && same(sides, "two-sided-long-edge"))) {
        job.duplexType = 1;
    } else if (same(duplex, "DuplexTumble") || (!duplex && same(sides, "two-sided-short-edge"))) {
        job.duplexType = 2;
    }

    if (const char* collate = get("Collate")) {
        job.collate = isTrue(collate);
    } else if (const char* ipp = get("collate")) {
        job.collate = isTrue(ipp);
    } else {
        job.collate = !same(get("multiple-document-handling"), "separate-documents-uncollated-copies");
    }

    bool sized = false;
    if (const char* pageSize = get("PageSize")) {
        sized = mediaSize(pageSize, &job);
    }
    if (!sized) {
        // media may list a size among other things (source, type): "A4,tray-1".
        const std::string media = get("media") ? get("media") : "";
        size_t start = 0;
        while (!sized && start <= media.size()) {
            size_t end = media.find(',', start);
            if (end == std::string::npos) {
                end = media.size();
            }
            const std::string part = media.substr(start, end - start);
            sized = !part.empty() && mediaSize(part.c_str(), &job);
            start = end + 1;
        }
    }

    cupsFreeOptions(optionCount, options);
    return job;
}

std::string BackendOptions::documentName(const char* optionText)
{
    cups_option_t* options = nullptr;
    const int optionCount = cupsParseOptions(optionText ? optionText : "", 0, &options);
    const char* name = cupsGetOption("document-name-supplied", optionCount, options);
    const std::string found = name ? name : "";
    cupsFreeOptions(optionCount, options);
    return found;
}
