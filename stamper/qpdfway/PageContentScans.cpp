#include "PageContentScans.h"

#include <cctype>
#include <stdexcept>
#include <string_view>

namespace {
// Keeps decoded content up to a size: a second decoding, for the rare page whose streams must be
// joined into one form, costs less than keeping every page's content on the way.
class KeepSink : public ContentSink {
public:
    KeepSink(std::string& keep, size_t limit)
        : keep_(keep)
        , limit_(limit) {
        keep_.clear();
    }
    void take(const char* data, size_t len) override {
        if (overflowed_)
            return;
        if (keep_.size() + len > limit_) {
            overflowed_ = true;
            std::string().swap(keep_);
            return;
        }
        keep_.append(data, len);
    }
    bool overflowed() const { return overflowed_; }

private:
    std::string& keep_;
    size_t limit_;
    bool overflowed_ = false;
};
// A stream written "endstreamendobj" has no endstream keyword where qpdf looks for one; it then
// takes the stream's data up to endobj, endstream and all, and would write that into the copy, where
// MuPDF ends the page's content at it. Viewers read the data without it.
void TrimRecoveredEnd(QPDFObjectHandle stream, ContentPiece& piece) {
    if (piece.kind == ContentPiece::Kind::QpdfOnly)
        return;
    std::string_view bytes = piece.bytes;
    while (!bytes.empty() && std::string_view(" \t\r\n\f", 5).find(bytes.back()) != std::string_view::npos)
        bytes.remove_suffix(1);
    constexpr std::string_view keyword = "endstream";
    if (bytes.size() < keyword.size() || bytes.substr(bytes.size() - keyword.size()) != keyword)
        return;
    bytes.remove_suffix(keyword.size());
    if (!bytes.empty() && !std::isspace(static_cast<unsigned char>(bytes.back())) &&
        piece.kind == ContentPiece::Kind::Decoded)
        return; // a longer word that ends so
    piece.bytes.resize(bytes.size());
    QPDFObjectHandle dict = stream.getDict();
    stream.replaceStreamData(piece.bytes, dict.getKey("/Filter"), dict.getKey("/DecodeParms"));
}
} // namespace

PageContentScans::PageContentScans(const std::vector<QPDFObjectHandle>& pageContents)
    : jobs_(pageContents.size()) {
    worker_ = std::thread([this] { work(); });
    try {
        fetchAll(pageContents);
    } catch (...) {
        stopWorker(); // the destructor won't run, and the worker must not be left waiting
        throw;
    }
}

void PageContentScans::fetchAll(const std::vector<QPDFObjectHandle>& pageContents) {
    std::map<std::vector<QPDFObjGen>, size_t> jobOfKey;
    jobOfPage_.reserve(pageContents.size());
    size_t count = 0, unpublished = 0;
    for (auto& contents : pageContents) {
        std::vector<QPDFObjectHandle> streams = ContentStreams(contents);
        std::vector<QPDFObjGen> key;
        key.reserve(streams.size());
        for (auto& s : streams)
            key.push_back(s.getObjGen());
        auto [at, added] = jobOfKey.try_emplace(std::move(key), count);
        jobOfPage_.push_back(at->second);
        ++jobs_[at->second].pages;
        if (!added)
            continue;
        Job& job = jobs_[count++];
        for (auto& s : streams) {
            job.pieces.push_back(ContentReader::fetch(s));
            TrimRecoveredEnd(s, job.pieces.back());
            job.bytes += job.pieces.back().bytes.size();
        }
        job.streams = std::move(streams);
        unpublished += job.bytes;
        // Handed over a few at a time: waking the worker for each page would cost more than it saves.
        if (count % 32 == 0 || unpublished >= kPublishBytes) {
            publish(count, unpublished);
            unpublished = 0;
        }
    }
    publish(count, unpublished);
    std::lock_guard lock(mutex_);
    allFetched_ = true;
    fetchedMore_.notify_one();
}

PageContentScans::~PageContentScans() {
    stopWorker();
}

void PageContentScans::stopWorker() {
    stopping_ = true;
    {
        std::lock_guard lock(mutex_);
        allFetched_ = true;
    }
    fetchedMore_.notify_one();
    if (worker_.joinable())
        worker_.join();
}

// Content taken from the file waits in memory until it is scanned; when the worker falls behind,
// reading stops for a while, so a file with huge pages never holds all of them at once.
void PageContentScans::publish(size_t count, size_t bytes) {
    std::unique_lock lock(mutex_);
    fetched_ = count;
    pendingBytes_ += bytes;
    fetchedMore_.notify_one();
    scannedMore_.wait(lock, [&] { return pendingBytes_ <= kMaxPendingBytes; });
}

void PageContentScans::decodeAndScan(Job& job, ContentReader& reader) {
    ScanningSink sink;
    for (auto& piece : job.pieces) {
        if (!reader.decode(piece, sink))
            return;
        sink.streamEnd();
    }
    job.scan = sink.finish();
    if (keepsContent(job)) {
        KeepSink keep(job.content, kMaxKeptBytes);
        for (auto& piece : job.pieces) {
            reader.decode(piece, keep);
            keep.streamEnd();
        }
        job.tooLarge = keep.overflowed();
    }
    job.decoded = true;
    job.pieces.clear();
    job.pieces.shrink_to_fit();
}

bool PageContentScans::keepsContent(const Job& job) {
    return !job.scan.vouched() && job.streams.size() > 1;
}

void PageContentScans::decodeThroughQpdf(Job& job) {
    ScanningSink sink;
    bool damaged = false;
    for (auto& s : job.streams) {
        damaged = !ContentReader::decodeThroughQpdf(s, sink) || damaged;
        sink.streamEnd();
    }
    job.scan = sink.finish();
    job.scan.damaged = damaged;
    if (keepsContent(job)) {
        KeepSink keep(job.content, kMaxKeptBytes);
        for (auto& s : job.streams) {
            ContentReader::decodeThroughQpdf(s, keep);
            keep.streamEnd();
        }
        job.tooLarge = keep.overflowed();
    }
    job.decoded = true;
}

void PageContentScans::work() {
    ContentReader reader;
    for (size_t k = 0; !stopping_; ++k) {
        {
            std::unique_lock lock(mutex_);
            fetchedMore_.wait(lock, [&] { return fetched_ > k || allFetched_; });
            if (fetched_ <= k)
                return;
        }
        try {
            decodeAndScan(jobs_[k], reader);
        } catch (std::exception&) {
            // out of memory here: the main thread tries again through qpdf
        }
        {
            std::lock_guard lock(mutex_);
            done_ = k + 1;
            pendingBytes_ -= jobs_[k].bytes;
        }
        scannedMore_.notify_one();
    }
}

ContentScan PageContentScans::scanOf(size_t page, std::string* content, bool* tooLarge) {
    const size_t k = jobOfPage_.at(page);
    {
        std::unique_lock lock(mutex_);
        scannedMore_.wait(lock, [&] { return done_ > k; });
    }
    Job& job = jobs_[k];
    if (!job.decoded)
        decodeThroughQpdf(job);
    if (tooLarge != nullptr)
        *tooLarge = job.tooLarge;
    if (job.tooLarge && job.scan.vouched())
        throw std::runtime_error(
            "page " + std::to_string(page + 1) +
            " has content over 64 MB with restores that close nothing, too large to repair");
    if (content != nullptr)
        *content = job.content;
    if (--job.pages == 0)
        std::string().swap(job.content); // the last page that shows it
    return job.scan;
}
