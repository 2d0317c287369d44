#include "CleanFileUpdate.h"

#include "ContentReader.h"
#include "NumberDrawing.h"
#include "PageLabels.h"
#include "PageGeometry.h"
#include "ViewerDisagreement.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using Kind = PdfValue::Kind;

// Deeper page trees than this are for qpdf's walk, which mends them.
constexpr size_t kMaxTreeDepth = 256;

[[noreturn]] void notClean(const std::string& why) {
    throw NotClean(why);
}

std::string reference(long long number, int generation) {
    return std::to_string(number) + " " + std::to_string(generation) + " R";
}

// The value's entries written again, `skip` left out.
void appendEntries(std::string& out, const PdfValue& dict, std::initializer_list<std::string_view> skip) {
    for (size_t k = 0; k + 1 < dict.items.size(); k += 2) {
        const std::string_view key = dict.items[k].text;
        if (std::find(skip.begin(), skip.end(), key) != skip.end())
            continue;
        out += ' ';
        out += key;
        out += ' ';
        out += dict.items[k + 1].text;
    }
}

// Flate alone or nothing: what the content reader decodes by itself.
bool deflated(const PdfValue& dict) {
    if (const PdfValue* parms = dict.find("/DecodeParms"); parms && !parms->is(Kind::Null))
        notClean("content with decoding parameters");
    return IsFlate(dict);
}

// A box's four numbers, or nothing where the page has no usable box; a reference to null or to a
// missing object reads as no value at all.
std::optional<PageGeometry::Numbers> box(CleanPdf& pdf, const PdfValue* v) {
    const PdfValue* array = pdf.lookup(v);
    if (!array || !array->is(Kind::Array) || array->items.size() != 4)
        return std::nullopt;
    PageGeometry::Numbers numbers;
    for (size_t k = 0; k < 4; ++k) {
        const PdfValue* item = pdf.lookup(&array->items[k]);
        if (!item || !item->isNumber())
            return std::nullopt;
        numbers[k] = item->number();
    }
    return numbers;
}

// A dictionary's value, or null when it is absent or no dictionary. `streamDictionary`: a stream
// stands for its dictionary, as MuPDF reads a stream given as /Resources.
const PdfValue* dictionaryAt(CleanPdf& pdf, const PdfValue* v, bool streamDictionary = false) {
    const PdfValue* d = pdf.lookup(v, streamDictionary);
    return d && d->is(Kind::Dictionary) ? d : nullptr;
}

} // namespace

struct CleanFileUpdate::Page {
    std::vector<std::pair<std::string_view, bool>> contents; // stored bytes, deflated or not
    ContentScan scan;
    PageGeometry geometry;
    std::string fontName;
    bool numbered = false;
};

// Inheritable values, a node's own or the nearest ancestor's.
struct CleanFileUpdate::Inherited {
    const PdfValue* resources = nullptr;
    const PdfValue* mediaBox = nullptr;
    const PdfValue* cropBox = nullptr;
    const PdfValue* rotate = nullptr;
    bool resourcesAreStream = false; // a stream's dictionary stands for the resources
    // The nearest node (the page included) that gives /MediaBox, /CropBox or /Rotate at all gives a
    // value that reads as absent: MuPDF then takes a default where qpdf and poppler look further up.
    bool shadowed[3] = {false, false, false};
};

// Pages' content scanned while the tree is still walked: a second thread takes pages as they are
// found, once there is enough content to be worth a thread, and the walking thread joins in when
// the walk is done.
class CleanFileUpdate::ScanQueue {
public:
    ScanQueue() = default;
    ~ScanQueue();
    ScanQueue(const ScanQueue&) = delete;
    ScanQueue& operator=(const ScanQueue&) = delete;

    void add(std::unique_ptr<Page> page);
    // Scans what is left and returns every page in order; NotClean when any page can't be taken.
    std::vector<std::unique_ptr<Page>> finish();

private:
    // Content up to this size is scanned on one thread; starting a second costs more than it saves.
    static constexpr size_t kScanAloneUpTo = 256 * 1024;

    void work();
    void stop();

    std::mutex mutex_;
    std::condition_variable more_;
    std::vector<std::unique_ptr<Page>> pages_; // under mutex_ until finish
    size_t next_ = 0;                          // the next page to scan, under mutex_
    size_t bytes_ = 0;                         // of content added, under mutex_
    bool walked_ = false;                      // under mutex_
    std::atomic<bool> failed_{false};
    std::thread helper_;
};

CleanFileUpdate::CleanFileUpdate(std::string_view input, const StampOptions& options)
    : inputSize_((long long)input.size())
    , selection_(options.pages)
    , revisionId_(RevisionId(input, options)) {
    CleanPdf pdf(input);
    if (pdf.encrypted())
        notClean("encrypted");
    last_ = pdf.lastSection();
    const PdfValue& trailer = pdf.trailer();
    const PdfValue* root = trailer.find("/Root");
    if (!root || !root->is(Kind::Reference))
        notClean("the catalog is not an object of its own");
    root_ = int(root->integer);
    rootGeneration_ = root->generation;
    const PdfValue& catalog = pdf.resolve(*root);
    if (!catalog.is(Kind::Dictionary))
        notClean("no catalog");
    // Labels the input has are merged by the qpdf way, which reads their number tree.
    if (options.pageLabels && catalog.find("/PageLabels"))
        notClean("page labels to merge with the numbers'");
    if (const PdfValue* info = trailer.find("/Info"); info && !info->is(Kind::Reference) && !info->is(Kind::Null))
        notClean("the document information is not an object of its own");

    bool tagged = false;
    if (const PdfValue* markInfo = dictionaryAt(pdf, catalog.find("/MarkInfo")))
        if (const PdfValue* marked = pdf.lookup(markInfo->find("/Marked")))
            tagged = marked->text == "true";
    if (const PdfValue* form = dictionaryAt(pdf, catalog.find("/AcroForm")))
        if (const PdfValue* f = pdf.lookup(form->find("/SigFlags")))
            signed_ = f->is(Kind::Integer) && (f->integer & 1) != 0;
    // A certification: the catalog's /Perms /DocMDP signature, its reference's /P (2 when absent).
    if (const PdfValue* perms = dictionaryAt(pdf, catalog.find("/Perms")))
        if (const PdfValue* signature = dictionaryAt(pdf, perms->find("/DocMDP"))) {
            certification_ = 2;
            if (const PdfValue* refs = pdf.lookup(signature->find("/Reference")); refs && refs->is(Kind::Array))
                for (const PdfValue& item : refs->items) {
                    const PdfValue* ref = dictionaryAt(pdf, &item);
                    const PdfValue* method = ref ? pdf.lookup(ref->find("/TransformMethod")) : nullptr;
                    if (!method || !method->isName("/DocMDP"))
                        continue;
                    const PdfValue* params = dictionaryAt(pdf, ref->find("/TransformParams"));
                    const PdfValue* p = params ? pdf.lookup(params->find("/P")) : nullptr;
                    if (p && p->is(Kind::Integer) && p->integer >= 1 && p->integer <= 3)
                        certification_ = int(p->integer);
                }
        }

    // New objects are numbered from the input's /Size, as an update's are (the font, the shared
    // "q", then one stream per page), or above every number the file references, should a reference
    // name an object it lacks: numbered so, a new object would come to stand for it.
    const PdfValue* size = trailer.find("/Size");
    font_ = int(std::max({(long long)pdf.highestNumber() + 1, pdf.highestReferenceAnywhere() + 1,
                          size && size->is(Kind::Integer) ? std::min(size->integer, kMaxObjectNumber + 1) : 0}));
    if (last_.needsNewline)
        text_ += '\n';
    // The page dictionaries are written as the tree is walked; the number streams once the content
    // scans say what each page leaves open.
    ScanQueue scans;
    walkPages(pdf, catalog, scans);
    const std::vector<std::unique_ptr<Page>> pages = scans.finish();
    if (pages.empty())
        notClean("no pages");
    pages_ = pages.size();
    // A reference to a missing object among those read would come to mean a new object; and new
    // numbers beyond what readers take need the whole file renumbered. Both are for the qpdf way.
    if (pdf.highestReference() >= font_)
        notClean("a reference to a missing object where new objects would be numbered");
    if (numberStream(numbered_) > kMaxObjectNumber)
        notClean("object numbers that reach the highest a reader takes");

    NumberDrawing drawing(options, tagged);
    drawing.setPageCount(pages.size());
    if (const FontSubset* embedded = drawing.embeddedFont()) {
        // The font the pages name, then the objects it refers to after the last number stream.
        if (numberStream(pages_) + FontSubset::kObjectCount > kMaxObjectNumber)
            notClean("object numbers that reach the highest a reader takes");
        std::vector<int> numbers{font_};
        for (int k = 1; k < FontSubset::kObjectCount; ++k)
            numbers.push_back(numberStream(pages_) + k - 1);
        const std::vector<FontSubset::Object> objects = embedded->objects(numbers);
        for (size_t k = 0; k < objects.size(); ++k) {
            const FontSubset::Object& o = objects[k];
            if (!o.streamData) {
                writeObject(numbers[k], 0, o.dictionary);
                continue;
            }
            std::string dictionary = o.dictionary;
            dictionary.insert(dictionary.rfind(">>"), "/Length " + std::to_string(o.streamData->size()) + " ");
            writeObject(numbers[k], 0, dictionary, *o.streamData);
        }
    } else {
        writeObject(font_, 0, NumberDrawing::kFontDictionary);
    }
    writeStream(font_ + 1, "q\n");
    size_t stream = 0;
    for (size_t k = 0; k < pages.size(); ++k)
        if (pages[k]->numbered) {
            writeStream(numberStream(stream), NumberDrawing::closing(pages[k]->scan) +
                                                  drawing.draw(pages[k]->geometry, pages[k]->fontName,
                                                               options.firstNumber + (long long)stream, k));
            ++stream;
        }
    offPage_ = drawing.pagesWithNumberOffPage();
    if (options.pageLabels) {
        // The catalog again, its labels those of the printed texts (the input has none).
        std::string text = "<<";
        appendEntries(text, catalog, {"/PageLabels"});
        text += " /PageLabels " + PageLabelTree(drawing.labelPages(pages.size(), [](size_t, PageLabelPage&) {})) +
                " >>";
        writeObject(root_, rootGeneration_, text);
    }

    // Objects lie in the file in the order written; the section lists them by number.
    std::vector<XrefEntry> entries;
    entries.reserve(written_.size() + 1);
    for (auto& w : written_)
        entries.push_back(w.entry);
    std::sort(entries.begin(), entries.end(),
              [](const XrefEntry& a, const XrefEntry& b) { return a.number < b.number; });
    const long long start = inputSize_ + (long long)text_.size();
    const long long highest = std::max<long long>(pdf.highestNumber(), (long long)entries.back().number);
    if (last_.isStream)
        AppendXrefStream(text_, entries, start, highest + 1, trailerEntries(trailer, highest + 2));
    else
        AppendXrefTable(text_, entries, start, trailerEntries(trailer, highest + 1));
}

void CleanFileUpdate::walkPages(CleanPdf& pdf, const PdfValue& catalog, ScanQueue& scans) {
    const PdfValue* top = catalog.find("/Pages");
    if (!top || !top->is(Kind::Reference))
        notClean("no page tree");
    struct Node {
        const PdfValue* ref;
        int parent; // object number, 0 for the root
        Inherited inherited;
        size_t depth;
    };
    std::vector<char> seen(size_t(pdf.highestNumber()) + 1, 0);
    std::vector<Node> stack{{top, 0, Inherited{}, 0}};
    size_t found = 0;
    // Every node in the order met (a node's pages follow it up to the next node no deeper): viewers
    // count and find pages by the nodes' /Count, which must match what lies below.
    struct Counted {
        size_t depth, firstFound;
        long long declared;
    };
    std::vector<Counted> nodes;
    while (!stack.empty()) {
        const Node node = stack.back();
        stack.pop_back();
        std::unique_ptr<PdfObject> object = pdf.read(int(node.ref->integer), node.ref->generation);
        // A page listed twice, or a loop: qpdf's walk mends the tree, viewers differ.
        if (seen.at(size_t(object->number)))
            notClean("a page tree node met twice");
        seen[size_t(object->number)] = 1;
        const PdfValue& dict = object->value;
        if (object->isStream || !dict.is(Kind::Dictionary))
            notClean("a page tree node that is no dictionary");
        if (node.parent != 0) {
            const PdfValue* parent = dict.find("/Parent");
            if (!parent || !parent->is(Kind::Reference) || parent->integer != node.parent)
                notClean("a page tree node whose /Parent is not the node above it");
        }
        const PdfValue* kids = dict.find("/Kids");
        const PdfValue* type = dict.find("/Type");
        if (!kids) {
            if (!type || !type->isName("/Page"))
                notClean("a page tree leaf that is no page");
            scans.add(page(pdf, *object, inherit(pdf, dict, node.inherited), found++));
            continue;
        }
        if (!type || !type->isName("/Pages") || node.depth >= kMaxTreeDepth)
            notClean("a page tree node out of the ordinary");
        // Kept: its pages point at what they inherit from it.
        const PdfObject& kept = pdf.keep(std::move(object));
        const PdfValue* count = pdf.lookup(kept.value.find("/Count"));
        nodes.push_back({node.depth, found, count && count->is(Kind::Integer) ? count->integer : -1});
        const Inherited here = inherit(pdf, kept.value, node.inherited);
        const PdfValue& list = pdf.resolve(*kept.value.find("/Kids"));
        if (!list.is(Kind::Array))
            notClean("/Kids that is no array");
        for (size_t k = list.items.size(); k-- > 0;) {
            if (!list.items[k].is(Kind::Reference))
                notClean("a kid that is not an object of its own");
            stack.push_back({&list.items[k], kept.number, here, node.depth + 1});
        }
    }
    std::vector<size_t> open; // nodes whose pages are still being counted
    auto close = [&](size_t until) {
        const Counted& n = nodes[open.back()];
        if (n.declared < 0 || size_t(n.declared) != until - n.firstFound)
            notClean("page counts in the page tree that don't add up");
        open.pop_back();
    };
    for (size_t k = 0; k < nodes.size(); ++k) {
        while (!open.empty() && nodes[open.back()].depth >= nodes[k].depth)
            close(nodes[k].firstFound);
        open.push_back(k);
    }
    while (!open.empty())
        close(found);
}

// A value that reads as absent (null, or a reference to null or to a missing object) leaves what
// the node above gave, as viewers and qpdf read it.
CleanFileUpdate::Inherited CleanFileUpdate::inherit(CleanPdf& pdf, const PdfValue& dict, Inherited from) {
    int k = -1;
    for (auto [key, slot] : {std::pair{"/Resources", &from.resources}, {"/MediaBox", &from.mediaBox},
                             {"/CropBox", &from.cropBox}, {"/Rotate", &from.rotate}}) {
        const PdfValue* given = dict.find(key);
        if (k >= 0 && given)
            from.shadowed[k] = !pdf.lookup(given);
        ++k;
        if (const PdfValue* v = pdf.lookup(given, slot == &from.resources)) {
            *slot = v;
            if (slot == &from.resources) {
                const PdfValue* given = dict.find(key);
                from.resourcesAreStream =
                    given->is(Kind::Reference) && pdf.object(int(given->integer), given->generation).isStream;
            }
        }
    }
    return from;
}

std::unique_ptr<CleanFileUpdate::Page> CleanFileUpdate::page(CleanPdf& pdf, const PdfObject& object, const Inherited& values,
                                            size_t index) {
    const PdfValue& dict = object.value;
    auto page = std::make_unique<Page>();
    // A page without a number is not read further, nor written again.
    if (!selection_.contains(index))
        return page;
    page->numbered = true;
    const size_t stream = numbered_++;
    std::string contentList;
    const PdfValue* contents = dict.find("/Contents");
    // A reference to null or to a missing object is no content at all.
    if (contents && contents->is(Kind::Reference) && !pdf.defines(int(contents->integer), contents->generation))
        contents = nullptr;
    if (contents && !contents->is(Kind::Null)) {
        std::unique_ptr<PdfObject> target;
        const PdfValue* list = contents;
        if (contents->is(Kind::Reference)) {
            target = pdf.read(int(contents->integer), contents->generation);
            list = target->isStream || target->value.is(Kind::Null) ? nullptr : &target->value;
            if (target->isStream) {
                page->contents.emplace_back(target->data, deflated(target->value));
                contentList = reference(target->number, target->generation) + " ";
            }
        }
        if (list) {
            if (!list->is(Kind::Array))
                notClean("/Contents that is neither a stream nor a list of streams");
            for (const PdfValue& item : list->items) {
                // Viewers differ over an entry that is no stream (poppler then draws nothing): the
                // qpdf way decides.
                if (!item.is(Kind::Reference))
                    notClean("a content stream that is not an object of its own");
                std::unique_ptr<PdfObject> s = pdf.read(int(item.integer), item.generation);
                if (!s->isStream)
                    notClean("content that is no stream");
                page->contents.emplace_back(s->data, deflated(s->value));
                contentList += reference(s->number, s->generation) + " ";
            }
        }
    }

    // Resources of the page's own, whatever it inherited, with the font added to a /Font of its own.
    const PdfValue* resources = dictionaryAt(pdf, values.resources, true);
    const PdfValue* fonts = resources ? dictionaryAt(pdf, resources->find("/Font")) : nullptr;
    if (fonts)
        if (const PdfValue* type = fonts->find("/Type"); type && (type->isName("/Page") || type->isName("/Pages")))
            notClean("a page whose fonts are a page");
    page->fontName = NumberDrawing::freeFontName([&](const std::string& n) { return fonts && fonts->find(n); });
    std::string text = "<<";
    // A box or rotation that reads as absent (null, or a reference to null or to a missing object)
    // where the page or the nearest node above gives one is written into the page as the value it
    // stands for: qpdf and poppler take the inherited one, MuPDF a default; given outright, every
    // viewer shows the same page.
    std::vector<std::pair<std::string_view, std::string>> stated;
    int k = 0;
    for (auto [key, inherited] : {std::pair{std::string_view("/MediaBox"), values.mediaBox},
                                  {"/CropBox", values.cropBox ? values.cropBox : values.mediaBox},
                                  {"/Rotate", values.rotate}})
        if (values.shadowed[k++]) {
            stated.emplace_back(key, inherited ? std::string(inherited->text)
                                     : key == "/Rotate"  ? "0"
                                                         : "[0 0 612 792]");
            warnings_.push_back(AbsentValueWarning(std::string(key), index + 1));
        }
    const PdfValue* rotate = pdf.lookup(values.rotate);
    std::optional<long long> rotation =
        rotate && rotate->is(Kind::Integer) ? std::optional<long long>(rotate->integer) : std::nullopt;
    if (rotate && rotate->isNumber())
        if (auto disagreement = RotationViewersDisagreeOn(rotate->is(Kind::Integer), rotate->number(), index + 1)) {
            std::erase_if(stated, [](auto& s) { return s.first == "/Rotate"; });
            stated.emplace_back("/Rotate", std::to_string(disagreement->value));
            rotation = disagreement->value;
            if (!disagreement->warning.empty())
                warnings_.push_back(disagreement->warning);
        }
    if (const PdfValue* own = dict.find("/Resources"); own && !pdf.lookup(own, true) && values.resources)
        warnings_.push_back(AbsentValueWarning("/Resources", index + 1));
    if (const PdfValue* group = dictionaryAt(pdf, dict.find("/Group"))) {
        const PdfValue* s = pdf.lookup(group->find("/S"));
        const PdfValue* cs = pdf.lookup(group->find("/CS"));
        if (s && s->isName("/Transparency") && cs && cs->isName("/DeviceGray"))
            warnings_.push_back(GreyPageGroupWarning(index + 1));
    }
    if (stated.empty()) {
        appendEntries(text, dict, {"/Contents", "/Resources"});
    } else {
        auto isStated = [&](std::string_view key) {
            return std::any_of(stated.begin(), stated.end(), [&](auto& s) { return s.first == key; });
        };
        for (size_t k = 0; k + 1 < dict.items.size(); k += 2) {
            const std::string_view key = dict.items[k].text;
            if (key == "/Contents" || key == "/Resources" || isStated(key))
                continue;
            text += ' ';
            text += key;
            text += ' ';
            text += dict.items[k + 1].text;
        }
        for (auto& [key, value] : stated) {
            text += ' ';
            text += key;
            text += ' ';
            text += value;
        }
    }
    text += " /Resources <<";
    if (resources && values.resourcesAreStream)
        appendEntries(text, *resources, {"/Font", "/Length", "/Filter", "/DecodeParms"});
    else if (resources)
        appendEntries(text, *resources, {"/Font"});
    text += " /Font <<";
    if (fonts)
        appendEntries(text, *fonts, {});
    text += " " + page->fontName + " " + reference(font_, 0) + " >> >> /Contents [" + reference(font_ + 1, 0) + " " +
            contentList + reference(numberStream(stream), 0) + "] >>";
    writeObject(object.number, object.generation, text);
    pageObjects_.emplace_back(object.number, object.generation);

    const PdfValue* unit = pdf.lookup(dict.find("/UserUnit"));
    page->geometry = PageGeometry::fromValues(
        box(pdf, values.mediaBox), box(pdf, values.cropBox), rotation,
        unit && unit->isNumber() ? std::optional<double>(unit->number()) : std::nullopt);
    // The boxes --box may measure in; a page's own only, none of them is inherited.
    page->geometry.trimBox = box(pdf, dict.find("/TrimBox"));
    page->geometry.bleedBox = box(pdf, dict.find("/BleedBox"));
    page->geometry.artBox = box(pdf, dict.find("/ArtBox"));
    return page;
}

CleanFileUpdate::ScanQueue::~ScanQueue() {
    stop();
}

void CleanFileUpdate::ScanQueue::add(std::unique_ptr<Page> page) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& c : page->contents)
        bytes_ += c.first.size();
    pages_.push_back(std::move(page));
    if (!helper_.joinable() && bytes_ > kScanAloneUpTo && std::thread::hardware_concurrency() >= 2)
        helper_ = std::thread([this] { work(); });
    more_.notify_one();
}

std::vector<std::unique_ptr<CleanFileUpdate::Page>> CleanFileUpdate::ScanQueue::finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        walked_ = true;
    }
    more_.notify_all();
    work();
    if (helper_.joinable())
        helper_.join();
    if (failed_)
        notClean("content this reader does not scan");
    return std::move(pages_);
}

void CleanFileUpdate::ScanQueue::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        walked_ = true;
        failed_ = true;
    }
    more_.notify_all();
    if (helper_.joinable())
        helper_.join();
}

void CleanFileUpdate::ScanQueue::work() {
    try {
        ContentReader reader;
        for (;;) {
            Page* page = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                more_.wait(lock, [this] { return next_ < pages_.size() || walked_ || failed_; });
                if (failed_ || next_ >= pages_.size())
                    return;
                page = pages_[next_++].get();
            }
            ScanningSink sink;
            bool decoded = true;
            for (auto& [bytes, isDeflated] : page->contents) {
                decoded = decoded && reader.decode(bytes, isDeflated, sink);
                sink.streamEnd();
            }
            page->scan = sink.finish();
            // Content the scan can't vouch for (a Q that closes nothing among it) is drawn as a form
            // of its own; the qpdf way does that.
            if (!decoded || !page->scan.vouched())
                failed_ = true;
        }
    } catch (std::exception&) {
        failed_ = true;
    }
}

void CleanFileUpdate::writeObject(int number, int generation, std::string_view dictionary,
                                  std::optional<std::string_view> data) {
    Written w;
    w.entry = {number, generation, inputSize_ + (long long)text_.size()};
    text_ += std::to_string(number) + " " + std::to_string(generation) + " obj\n";
    w.dictionary = text_.size();
    w.dictionaryLength = dictionary.size();
    text_ += dictionary;
    if (data) {
        text_ += "\nstream\n";
        w.isStream = true;
        w.data = text_.size();
        w.dataLength = data->size();
        text_ += *data;
        text_ += "\nendstream";
    }
    text_ += "\nendobj\n";
    written_.push_back(w);
}

void CleanFileUpdate::writeStream(int number, std::string_view data) {
    writeObject(number, 0, "<< /Length " + std::to_string(data.size()) + " >>", data);
}

std::string CleanFileUpdate::trailerEntries(const PdfValue& trailer, long long size) const {
    std::string s = " /Size " + std::to_string(size) + " /Prev " + std::to_string(last_.offset) + " /Root " +
                    reference(root_, rootGeneration_);
    if (const PdfValue* info = trailer.find("/Info"); info && info->is(Kind::Reference))
        s += " /Info " + reference(info->integer, info->generation);
    // The first element names the document and stays; the second names this revision.
    const std::string revision = HexString(revisionId_);
    const PdfValue* id = trailer.find("/ID");
    if (id && id->is(Kind::Array) && !id->items.empty() && id->items[0].is(Kind::String))
        s += " /ID [" + std::string(id->items[0].text) + revision + "]";
    else
        s += " /ID [" + revision + revision + "]";
    return s;
}

void CleanFileUpdate::checkReadBack(QPDF& copy) const {
    std::vector<XrefEntry> entries;
    entries.reserve(written_.size());
    for (const Written& w : written_)
        entries.push_back(w.entry);
    CheckWrittenWhere(copy, QPDFObjGen(root_, rootGeneration_), entries);
    // Every page dictionary comes first, then the new objects; the ends of both and a spread between.
    const size_t n = written_.size();
    const size_t stride = n <= kFullCheck ? 1 : n / (kFullCheck / 2);
    for (size_t k = 0; k < n; ++k) {
        const bool nearEnd = k < kFullCheck / 4 || k + kFullCheck / 4 >= n ||
                             (k + kFullCheck / 8 >= numbered_ && k < numbered_ + kFullCheck / 8);
        if (k % stride != 0 && !nearEnd)
            continue;
        const Written& w = written_[k];
        QPDFObjectHandle got = copy.getObject(w.entry.number, w.entry.generation);
        QPDFObjectHandle expected =
            QPDFObjectHandle::parse(&copy, text_.substr(w.dictionary, w.dictionaryLength), "numbered copy");
        bool same = got.isStream() == w.isStream;
        if (same && w.isStream) {
            std::shared_ptr<Buffer> data = got.getRawStreamData();
            same = std::string_view(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()) ==
                   std::string_view(text_).substr(w.data, w.dataLength);
            got = got.getDict();
        }
        if (!same || got.unparseResolved() != expected.unparse())
            throw std::runtime_error("object " + std::to_string(w.entry.number) + " reads back differently");
    }
    CheckReadWithoutRepair(copy);
}
