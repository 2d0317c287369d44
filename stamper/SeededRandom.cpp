#include "SeededRandom.h"

#include <qpdf/QPDFCryptoProvider.hh>
#include <qpdf/QUtil.hh>
#include <qpdf/RandomDataProvider.hh>

#include <algorithm>
#include <cstdint>
#include <mutex>

namespace {
struct Stream {
    std::string seed;
    std::uint64_t counter = 0;
};
thread_local Stream* seeded = nullptr;

// MD5 of the seed and a counter, block after block; qpdf's own source for threads without a seed.
class ThreadSeededProvider : public RandomDataProvider {
public:
    explicit ThreadSeededProvider(RandomDataProvider* fallback)
        : fallback_(fallback) {}
    void provideRandomData(unsigned char* data, size_t len) override {
        if (seeded == nullptr)
            return fallback_->provideRandomData(data, len);
        auto md5 = QPDFCryptoProvider::getImpl();
        while (len > 0) {
            const std::string block = seeded->seed + std::to_string(seeded->counter++);
            md5->MD5_init();
            md5->MD5_update(reinterpret_cast<const unsigned char*>(block.data()), block.size());
            md5->MD5_finalize();
            QPDFCryptoImpl::MD5_Digest digest;
            md5->MD5_digest(digest);
            const size_t n = std::min(len, sizeof digest);
            std::copy(digest, digest + n, data);
            data += n;
            len -= n;
        }
    }

private:
    RandomDataProvider* fallback_;
};

void install() {
    // Once, before the first seed is set; every user of qpdf in this program starts through the
    // numbering entry points, which come here first.
    static std::once_flag once;
    std::call_once(once, [] {
        static ThreadSeededProvider provider(QUtil::getRandomDataProvider());
        QUtil::setRandomDataProvider(&provider);
    });
}
} // namespace

SeededRandom::SeededRandom(const std::string& seed) {
    install();
    seeded = new Stream{seed, 0};
}

SeededRandom::~SeededRandom() {
    delete seeded;
    seeded = nullptr;
}
