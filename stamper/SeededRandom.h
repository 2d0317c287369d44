#pragma once
// While one of these lives, what qpdf draws at random on this thread (the first cipher block of every
// AES-encrypted string and stream its writer writes) comes from `seed` instead: the same input
// numbered the same way is written with the same bytes. Other threads, and this one before and
// after, draw from qpdf's own source as usual.

#include <string>

class SeededRandom {
public:
    explicit SeededRandom(const std::string& seed);
    ~SeededRandom();
    SeededRandom(const SeededRandom&) = delete;
    SeededRandom& operator=(const SeededRandom&) = delete;
};
