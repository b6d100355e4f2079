#pragma once
// A load's further pages of a document (store/core/page_mark.h): their blobs read in order
// and expanded on the worker pool while the next ones are read, then handed to the host
// in page order, each as soon as it and those before it are ready.

#include "store/core/page_mark.h"
#include "store/interrupted_compaction.h"
#include "store/store_files.h"
#include "store/store_host.h"

#include <cstdint>
#include <vector>

// Hands pages 2.. of document to host.AddPage in order: the image file as ShowImage gets
// page 1's (damaged ones included), null for a page whose record is missing or whose blob
// cannot be reached. Answers those pages, which could not be shown.
std::vector<uint32_t> HandFurtherPages(StoreHost& host, const StoreFiles& files, const BlobFiles& blobFiles,
                                       const Document& document);
