#pragma once
// The content scan of every page, worked out on a second thread while the document is edited on
// the first. Inflating and scanning is a sixth of a large run and needs nothing from qpdf once the
// stream bytes are taken, so only that taking happens on qpdf's thread.

#include "ContentReader.h"
#include "ContentScan.h"

#include <qpdf/QPDFObjectHandle.hh>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PageContentScans {
public:
    // Takes the bytes of every page's content (pages in order) and starts scanning them.
    explicit PageContentScans(const std::vector<QPDFObjectHandle>& pageContents);
    ~PageContentScans();
    PageContentScans(const PageContentScans&) = delete;
    PageContentScans& operator=(const PageContentScans&) = delete;

    // Page k's scan, waiting for it if need be. Where a scan found Q operators that close nothing,
    // or content of several streams that ends badly, `content` receives the decoded content (the
    // offsets of the restores refer to it). `tooLarge` is set where that content was too large to
    // keep; it is then left empty.
    ContentScan scanOf(size_t page, std::string* content = nullptr, bool* tooLarge = nullptr);

private:
    struct Job {
        std::vector<QPDFObjectHandle> streams;
        std::vector<ContentPiece> pieces;
        ContentScan scan;
        bool decoded = false;  // false: the fast inflate gave up, qpdf decodes it on its thread
        std::string content;   // kept only where `keepsContent`
        bool tooLarge = false; // content that must be kept and is too large to
        size_t bytes = 0;      // of the pieces
        size_t pages = 0;      // that show this content and haven't asked for its scan yet
    };
    static constexpr size_t kPublishBytes = 1 << 20;
    static constexpr size_t kMaxPendingBytes = 64 << 20;
    // Decoded content is scanned as it comes, never held whole; only a page whose streams must be
    // joined into one form has it decoded again and kept, up to this size.
    static constexpr size_t kMaxKeptBytes = 64 << 20;

    void fetchAll(const std::vector<QPDFObjectHandle>& pageContents);
    void stopWorker();
    void work();
    // The scan of the job's decoded content, and the content itself where it must be rewritten:
    // on the worker, or, where its fast inflate gave up, through qpdf on qpdf's thread.
    void decodeAndScan(Job& job, ContentReader& reader);
    static void decodeThroughQpdf(Job& job);
    // Whether the page's content must be kept for a copy of it to be written.
    static bool keepsContent(const Job& job);

    void publish(size_t count, size_t bytes);

    // One job per distinct content (pages often share theirs). Sized once, so a job never moves: the
    // worker may take job k once `fetched_` passes k, and hands it back when `done_` passes it.
    std::vector<Job> jobs_;
    std::vector<size_t> jobOfPage_;
    std::mutex mutex_;
    std::condition_variable fetchedMore_, scannedMore_;
    size_t fetched_ = 0, done_ = 0; // under mutex_
    size_t pendingBytes_ = 0;       // fetched and not yet scanned, under mutex_
    bool allFetched_ = false;       // under mutex_
    std::atomic<bool> stopping_{false};
    std::thread worker_;
};
