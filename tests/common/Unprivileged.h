#pragma once
// Folders without read permission only refuse a listing to an ordinary user: root reads them anyway.
// When the tests run as root (as in CI), this switches the effective user to "nobody" for its lifetime
// (the saved user stays root, so the switch back works), which makes a mode of 000 deny the listing
// for real.

#include <QFile>
#include <QString>

#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

class Unprivileged {
public:
    static constexpr uid_t kNobody = 65534;

    Unprivileged() {
        if (::geteuid() == 0)
            switched_ = ::seteuid(kNobody) == 0;
    }
    ~Unprivileged() {
        if (switched_) [[maybe_unused]]
            const int ignored = ::seteuid(0);
    }
    Unprivileged(const Unprivileged&) = delete;
    Unprivileged& operator=(const Unprivileged&) = delete;

    // True when opening folder for listing fails for whoever we are now.
    static bool listingFails(const QString& folder) {
        DIR* dir = ::opendir(QFile::encodeName(folder).constData());
        if (!dir)
            return true;
        ::closedir(dir);
        return false;
    }

private:
    bool switched_ = false;
};
