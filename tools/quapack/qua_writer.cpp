// Builds a QUA archive image: header, then the members' data, then the table block (name
// table, file table, directory table), all enciphered at the end. Each directory's entries
// are consecutive in the file table, sorted by their upper-cased names.

#include "qua_writer.h"

#include "quarn/core/archive.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace quapack {

namespace {

struct Node {
    std::string written;  // the element as written
    std::string upper;    // its search form's bytes
    uint16_t words = 0;
    uint16_t checkSum = 0;
    bool directory = false;
    const Entry* entry = nullptr;
    std::vector<std::unique_ptr<Node>> children;
    uint32_t nameOffset = 0;
    uint32_t directoryOffset = 0;  // directories: the record's offset
    uint32_t dataOffset = 0;       // files: from the data start
    uint32_t storedBytes = 0;
    bool compressed = false;
    std::vector<uint8_t> lz;  // a compressed member's block until it is written
};

void PutLe16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
}

void PutLe64(std::vector<uint8_t>& out, uint64_t v)
{
    PutLe32(out, static_cast<uint32_t>(v));
    PutLe32(out, static_cast<uint32_t>(v >> 32));
}

// The elements of a path, split at "\" and "/" outside double-byte characters.
std::vector<std::string> SplitPath(const std::string& path, int codeFormat)
{
    std::vector<std::string> elements;
    std::string current;
    for (size_t i = 0; i < path.size();) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(path.data() + i);
        if (IsDoubleByteLead(p, codeFormat) && i + 1 < path.size()) {
            current.append(path, i, 2);
            i += 2;
            continue;
        }
        if (path[i] == '\\' || path[i] == '/') {
            if (!current.empty()) elements.push_back(current);
            current.clear();
        } else {
            current += path[i];
        }
        ++i;
    }
    if (!current.empty()) elements.push_back(current);
    return elements;
}

class Builder {
public:
    Builder(const Options& options, std::string* error) : options_(options), error_(error)
    {
        codeFormat_ = CharacterCodeFormatFromCodePage(options.version >= 4 ? options.codePage : 0);
        root_.directory = true;
    }

    bool Add(const Entry& entry)
    {
        const std::vector<std::string> elements = SplitPath(entry.path, codeFormat_);
        if (elements.empty()) return Fail("an entry without a name: \"" + entry.path + "\"");
        for (const std::string& element : elements) {
            if (element == "." || element == "..")
                return Fail("\".\" and \"..\" name no entry: \"" + entry.path + "\"");
        }
        Node* dir = &root_;
        for (size_t k = 0; k < elements.size(); ++k) {
            const bool last = k + 1 == elements.size();
            const bool wantDirectory = !last || entry.directory;
            Node* child = nullptr;
            if (!Child(dir, elements[k], &child)) return false;
            if (child) {
                if (!child->directory || !wantDirectory) return Fail("the name is used twice: \"" + entry.path + "\"");
                dir = child;
                continue;
            }
            std::unique_ptr<Node> made(new Node);
            if (!Name(elements[k], made.get())) return false;
            made->directory = wantDirectory;
            if (!wantDirectory) made->entry = &entry;
            dir->children.push_back(std::move(made));
            dir = dir->children.back().get();
        }
        return true;
    }

    bool Build(std::vector<uint8_t>& out)
    {
        if (options_.version < 0 || options_.version > kArchiveMaxVersion) return Fail("versions 0 to 4 only");
        Sort(&root_);
        const uint32_t headerBytes = options_.version >= 4 ? 28 : 24;
        // Data area.
        std::vector<uint8_t> data;
        if (!LayData(&root_, data)) return false;
        // Name table, then the directory records' offsets, then the file table.
        std::vector<uint8_t> names;
        std::vector<Node*> directories;
        Number(&root_, names, directories);
        const uint32_t entryBytes = options_.version >= 2 ? 44 : 40;
        std::vector<uint8_t> files;
        std::vector<uint8_t> records;
        std::map<const Node*, uint32_t> firstEntry;
        std::map<const Node*, uint32_t> parentOf;
        parentOf[&root_] = kArchiveNoParent;
        for (Node* d : directories) {
            firstEntry[d] = static_cast<uint32_t>(files.size());
            for (auto& c : d->children) {
                if (c->directory) parentOf[c.get()] = d->directoryOffset;
                PutLe32(files, c->nameOffset);
                PutLe32(files, c->directory ? kArchiveDirectoryAttribute : 0x20);
                const uint64_t created = c->entry ? c->entry->creationTime : 0;
                const uint64_t written = c->entry ? c->entry->lastWriteTime : 0;
                PutLe64(files, created);
                PutLe64(files, written);  // last access
                PutLe64(files, written);
                PutLe32(files, c->directory ? c->directoryOffset : c->dataOffset);
                PutLe32(files, c->entry ? static_cast<uint32_t>(c->entry->data.size()) : 0);
                if (entryBytes == 44) PutLe32(files, c->compressed ? c->storedBytes : kArchiveStored);
            }
        }
        for (Node* d : directories) {
            PutLe32(records, 0);
            PutLe32(records, parentOf[d]);
            PutLe32(records, static_cast<uint32_t>(d->children.size()));
            PutLe32(records, firstEntry[d]);
        }
        const uint64_t tableSize = uint64_t(names.size()) + files.size() + records.size();
        const uint64_t total = headerBytes + uint64_t(data.size()) + tableSize;
        if (total > 0xFFFFFFFFull) return Fail("the archive would pass 4 GB");

        out.clear();
        out.reserve(static_cast<size_t>(total));
        out.push_back('Q');
        out.push_back('U');
        PutLe16(out, static_cast<uint32_t>(options_.version));
        PutLe32(out, static_cast<uint32_t>(tableSize));
        PutLe32(out, headerBytes);
        PutLe32(out, static_cast<uint32_t>(headerBytes + data.size()));
        PutLe32(out, static_cast<uint32_t>(names.size()));
        PutLe32(out, static_cast<uint32_t>(names.size() + files.size()));
        if (options_.version >= 4) PutLe32(out, options_.codePage);
        out.insert(out.end(), data.begin(), data.end());
        out.insert(out.end(), names.begin(), names.end());
        out.insert(out.end(), files.begin(), files.end());
        out.insert(out.end(), records.begin(), records.end());

        uint8_t key[kArchiveKeyBytes];
        if (options_.plain) BuildFallbackArchiveKey(key);
        else DeriveArchiveKey(options_.keyText.empty() ? nullptr : options_.keyText.c_str(), key);
        ScrambleArchiveBytes(key, out.data(), static_cast<uint32_t>(out.size()), 0);
        return true;
    }

private:
    bool Fail(const std::string& message)
    {
        if (error_) *error_ = message;
        return false;
    }

    bool Name(const std::string& element, Node* node)
    {
        ArchiveSearchName form;
        if (BuildArchiveSearchName(element.c_str(), codeFormat_, &form) != 0)
            return Fail("a name is too long: \"" + element + "\"");
        node->written = element;
        node->upper.assign(reinterpret_cast<const char*>(form.name), size_t(form.words) * 4);
        node->words = form.words;
        node->checkSum = form.checkSum;
        return true;
    }

    // The child of that name (as lookups compare names), or null.
    bool Child(Node* dir, const std::string& element, Node** found)
    {
        Node probe;
        if (!Name(element, &probe)) return false;
        *found = nullptr;
        for (auto& c : dir->children) {
            if (c->upper == probe.upper) *found = c.get();
        }
        return true;
    }

    void Sort(Node* dir)
    {
        std::sort(dir->children.begin(), dir->children.end(),
                  [](const std::unique_ptr<Node>& a, const std::unique_ptr<Node>& b) { return a->upper < b->upper; });
        for (auto& c : dir->children) {
            if (c->directory) Sort(c.get());
        }
    }

    bool LayData(Node* dir, std::vector<uint8_t>& data)
    {
        for (auto& c : dir->children) {
            if (c->directory) {
                if (!LayData(c.get(), data)) return false;
                continue;
            }
            const std::vector<uint8_t>& bytes = c->entry->data;
            if (bytes.size() > 0xFFFFFFFFull - 64) return Fail("a member passes 4 GB: \"" + c->entry->path + "\"");
            const int wish = c->entry->compress;
            if (options_.version >= 2 && (wish == 1 || (wish == -1 && options_.compress))) {
                std::vector<uint8_t> lz = EncodeLzBlock(bytes.data(), bytes.size());
                if (wish == 1 || lz.size() < bytes.size()) {
                    c->compressed = true;
                    c->dataOffset = static_cast<uint32_t>(data.size());
                    c->storedBytes = static_cast<uint32_t>(lz.size());
                    data.insert(data.end(), lz.begin(), lz.end());
                    continue;
                }
            }
            c->dataOffset = static_cast<uint32_t>(data.size());
            c->storedBytes = static_cast<uint32_t>(bytes.size());
            data.insert(data.end(), bytes.begin(), bytes.end());
        }
        return true;
    }

    // Name records for every node, and record offsets for directories in the order their
    // entries go into the file table (the root first).
    void Number(Node* root, std::vector<uint8_t>& names, std::vector<Node*>& directories)
    {
        std::vector<Node*> queue{root};
        for (size_t q = 0; q < queue.size(); ++q) {
            Node* d = queue[q];
            d->directoryOffset = static_cast<uint32_t>(directories.size() * 16);
            directories.push_back(d);
            for (auto& c : d->children) {
                c->nameOffset = static_cast<uint32_t>(names.size());
                PutLe16(names, c->words);
                PutLe16(names, c->checkSum);
                names.insert(names.end(), c->upper.begin(), c->upper.end());
                std::string written = c->written;
                written.resize(size_t(c->words) * 4, '\0');
                names.insert(names.end(), written.begin(), written.end());
                if (c->directory) queue.push_back(c.get());
            }
        }
    }

    Options options_;
    std::string* error_;
    int codeFormat_ = 0;
    Node root_;
};

}  // namespace

int BuildArchive(const std::vector<Entry>& entries, const Options& options, std::vector<uint8_t>& out,
                 std::string* error)
{
    Builder builder(options, error);
    for (const Entry& e : entries) {
        if (!builder.Add(e)) return -1;
    }
    return builder.Build(out) ? 0 : -1;
}

int VerifyArchive(const std::vector<uint8_t>& archive, const std::vector<Entry>& entries, const Options& options,
                  std::string* error)
{
    std::vector<uint8_t> image = archive;
    ArchiveRecord record;
    ClearArchiveRecord(&record);
    const char* key = options.keyText.empty() ? nullptr : options.keyText.c_str();
    if (OpenArchiveImage(&record, image.data(), static_cast<uint32_t>(image.size()), key) != 0) {
        if (error) *error = "the library does not open the archive";
        return -1;
    }
    int result = 0;
    for (const Entry& e : entries) {
        if (e.directory) continue;
        ArchiveMember member;
        std::vector<uint8_t> back(e.data.size() + 1);
        int32_t got = -1;
        if (OpenArchiveMember(&member, &record, e.path.c_str(), 0) == 0) {
            got = ReadArchiveMember(&member, back.data(), static_cast<uint32_t>(back.size()));
            CloseArchiveMember(&member);
        }
        if (got != static_cast<int32_t>(e.data.size()) || !std::equal(e.data.begin(), e.data.end(), back.begin())) {
            if (error) *error = "\"" + e.path + "\" does not read back as written";
            result = -1;
            break;
        }
    }
    CloseArchiveSource(&record);
    return result;
}

}  // namespace quapack
