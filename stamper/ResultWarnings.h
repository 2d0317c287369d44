#pragma once
// What a user is told about a file that was numbered but not quite as asked: repairs made while
// reading, numbers that can't be seen, signatures. One line each, the file named as `input`.

#include "NumberPdfFile.h"

#include <string>
#include <vector>

// At most `repairsShown` of the repairs are listed, then how many more there were.
std::vector<std::string> ResultWarnings(const NumberPdfResult& result, const std::string& input,
                                        size_t repairsShown = 3);
