#pragma once
// Encrypts the strings and streams of objects appended to an encrypted file, with the file's own key
// and methods, so that the copy stays encrypted exactly as the input was. The file must have been
// opened with its (empty) user password, which gives qpdf the file key.

#include <qpdf/QPDF.hh>

#include <string>

class UpdateEncryption {
public:
    explicit UpdateEncryption(QPDF& pdf);

    // False for a file that isn't encrypted.
    bool active() const { return active_; }
    // Empty when every method the file uses can be written; otherwise why not.
    const std::string& unsupported() const { return unsupported_; }

    std::string encryptString(const std::string& plain, QPDFObjGen og) const;
    std::string encryptStream(const std::string& plain, QPDFObjGen og) const;

private:
    std::string encrypt(const std::string& plain, QPDFObjGen og, QPDF::encryption_method_e method) const;

    bool active_ = false;
    std::string unsupported_;
    int V_ = 0, R_ = 0;
    QPDF::encryption_method_e streams_ = QPDF::e_none, strings_ = QPDF::e_none;
    std::string key_;
};
