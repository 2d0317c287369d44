#pragma once
// How many pages a file has, found the quick way: the page tree walked straight from the file's
// bytes, without building qpdf's model of the document. Counting a batch first costs a small part of
// numbering it.

#include <cstddef>
#include <optional>
#include <string_view>

// The count of a well-formed file whose page tree is a plain tree; nothing for any other file, whose
// pages only qpdf's reading (and mending) of it can count.
std::optional<size_t> CountPagesQuickly(std::string_view bytes);
