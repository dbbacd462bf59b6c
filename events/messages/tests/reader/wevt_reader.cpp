#include "wevt_reader.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace wevtread {

namespace {

struct Bad {
    std::string why;
};

[[noreturn]] void Fail(const std::string &why)
{
    throw Bad{why};
}

// Bounded little-endian reads over [0, limit) of the input.
class View {
public:
    View(Bytes bytes, size_t limit) : b_(bytes), limit_(limit < bytes.size ? limit : bytes.size) {}
    size_t Limit() const { return limit_; }
    void Need(size_t at, size_t count, const char *what) const
    {
        if (at > limit_ || count > limit_ - at)
            Fail(std::string(what) + " beyond the end");
    }
    uint8_t U8(size_t at, const char *what) const
    {
        Need(at, 1, what);
        return b_.data[at];
    }
    uint16_t U16(size_t at, const char *what) const
    {
        Need(at, 2, what);
        return static_cast<uint16_t>(b_.data[at] | b_.data[at + 1] << 8);
    }
    uint32_t U32(size_t at, const char *what) const
    {
        Need(at, 4, what);
        return static_cast<uint32_t>(U16(at, what)) | static_cast<uint32_t>(U16(at + 2, what)) << 16;
    }
    uint64_t U64(size_t at, const char *what) const { return U32(at, what) | static_cast<uint64_t>(U32(at + 4, what)) << 32; }
    bool Tag(size_t at, const char *tag) const
    {
        if (at > limit_ || limit_ - at < 4)
            return false;
        for (int i = 0; i < 4; ++i)
            if (b_.data[at + i] != static_cast<uint8_t>(tag[i]))
                return false;
        return true;
    }
    Guid ReadGuid(size_t at) const
    {
        Need(at, 16, "GUID");
        Guid g;
        for (size_t i = 0; i < 16; ++i)
            g[i] = b_.data[at + i];
        return g;
    }
    // count UTF-16 units at at, as 8-bit text (units above 0x7F become '?').
    std::string Text(size_t at, size_t count, const char *what) const
    {
        if (count > limit_)
            Fail(std::string(what) + " longer than the input");
        Need(at, count * 2, what);
        std::string text;
        for (size_t i = 0; i < count; ++i) {
            uint16_t unit = U16(at + 2 * i, what);
            text += unit < 0x80 ? static_cast<char>(unit) : '?';
        }
        return text;
    }

private:
    Bytes b_;
    size_t limit_;
};

// ---- PE resource directory ---------------------------------------------------------------

struct Section {
    uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

// The file offset of rva and how many bytes of that section's file data follow it.
bool MapRva(const std::vector<Section> &sections, uint32_t rva, size_t *offset, size_t *available)
{
    for (const Section &s : sections) {
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize) {
            *offset = static_cast<size_t>(s.rawOffset) + (rva - s.virtualAddress);
            *available = s.rawSize - (rva - s.virtualAddress);
            return true;
        }
    }
    return false;
}

struct DirectoryEntry {
    bool named;
    uint32_t nameOrId;
    bool subdirectory;
    uint32_t offset;
};

std::vector<DirectoryEntry> Directory(const View &tree, size_t at)
{
    size_t count = static_cast<size_t>(tree.U16(at + 12, "resource directory")) + tree.U16(at + 14, "resource directory");
    tree.Need(at + 16, 8 * count, "resource directory entries");
    std::vector<DirectoryEntry> entries;
    for (size_t i = 0; i < count; ++i) {
        uint32_t name = tree.U32(at + 16 + 8 * i, "resource entry");
        uint32_t data = tree.U32(at + 20 + 8 * i, "resource entry");
        entries.push_back({(name & 0x80000000u) != 0, name & 0x7FFFFFFFu, (data & 0x80000000u) != 0, data & 0x7FFFFFFFu});
    }
    return entries;
}

} // namespace

bool FindResourceBytes(Bytes file, const std::u16string &type, Bytes *resource, std::string *error)
{
    try {
        View f(file, file.size);
        if (f.U16(0, "DOS header") != 0x5A4D)
            Fail("no MZ signature");
        size_t pe = f.U32(0x3C, "DOS header");
        if (f.U32(pe, "PE signature") != 0x00004550)
            Fail("no PE signature");
        size_t sectionCount = f.U16(pe + 6, "file header");
        size_t optionalSize = f.U16(pe + 20, "file header");
        size_t optional = pe + 24;
        uint16_t magic = f.U16(optional, "optional header");
        size_t directories;
        if (magic == 0x20B)
            directories = 112;
        else if (magic == 0x10B)
            directories = 96;
        else
            Fail("unknown optional header");
        if (directories + 8 * 3 > optionalSize)
            Fail("optional header without a resource directory");
        if (f.U32(optional + directories - 4, "optional header") < 3)
            Fail("no resource directory entry");
        uint32_t resourceRva = f.U32(optional + directories + 16, "resource directory");
        uint32_t resourceSize = f.U32(optional + directories + 20, "resource directory");
        if (resourceRva == 0 || resourceSize == 0)
            Fail("no resources");
        std::vector<Section> sections;
        size_t table = optional + optionalSize;
        f.Need(table, 40 * sectionCount, "section table");
        for (size_t i = 0; i < sectionCount; ++i) {
            size_t s = table + 40 * i;
            sections.push_back({f.U32(s + 12, "section"), f.U32(s + 8, "section"), f.U32(s + 16, "section"),
                                f.U32(s + 20, "section")});
        }
        size_t root, available;
        if (!MapRva(sections, resourceRva, &root, &available))
            Fail("resource directory outside every section");
        f.Need(root, 0, "resource directory");
        // The tree: offsets in it are counted from its root and stay within it.
        Bytes treeBytes{file.data + root, file.size - root};
        View tree(treeBytes, resourceSize < available ? resourceSize : available);

        const DirectoryEntry *typeEntry = nullptr;
        std::vector<DirectoryEntry> types = Directory(tree, 0);
        for (const DirectoryEntry &e : types) {
            if (!e.named)
                continue;
            size_t length = tree.U16(e.nameOrId, "resource type name");
            std::string name = tree.Text(e.nameOrId + 2, length, "resource type name");
            if (name.size() == type.size() && std::equal(name.begin(), name.end(), type.begin(),
                                                         [](char a, char16_t b) { return static_cast<char16_t>(a) == b; })) {
                typeEntry = &e;
                break;
            }
        }
        if (typeEntry == nullptr)
            Fail("no resource of that type");
        if (!typeEntry->subdirectory)
            Fail("resource type without names");
        std::vector<DirectoryEntry> names = Directory(tree, typeEntry->offset);
        if (names.empty() || !names[0].subdirectory)
            Fail("resource name without languages");
        std::vector<DirectoryEntry> languages = Directory(tree, names[0].offset);
        if (languages.empty() || languages[0].subdirectory)
            Fail("resource language without data");
        uint32_t dataRva = tree.U32(languages[0].offset, "resource data entry");
        uint32_t dataSize = tree.U32(languages[0].offset + 4, "resource data entry");
        size_t data, dataAvailable;
        if (!MapRva(sections, dataRva, &data, &dataAvailable) || dataSize > dataAvailable)
            Fail("resource data outside its section");
        f.Need(data, dataSize, "resource data");
        *resource = Bytes{file.data + data, dataSize};
        return true;
    } catch (const Bad &bad) {
        *error = bad.why;
        return false;
    }
}

namespace {

// ---- compiled manifest -------------------------------------------------------------------

// A name stored as its size (counting itself), the UTF-16 text and a NUL.
std::string SizedName(const View &v, size_t at, const char *what)
{
    uint32_t size = v.U32(at, what);
    if (size < 6 || size % 2 != 0)
        Fail(std::string(what) + " of a bad size");
    v.Need(at, size, what);
    std::string text = v.Text(at + 4, (size - 4) / 2, what);
    size_t nul = text.find('\0');
    if (nul == std::string::npos)
        Fail(std::string(what) + " without its NUL");
    text.resize(nul);
    return text;
}

// An element table: its signature, its size (header included, within the manifest), and its
// definitions of a fixed size after a header of headerSize bytes.
struct Element {
    size_t at, end, first;
    uint32_t count;
};

Element OpenElement(const View &v, size_t at, size_t headerSize, size_t definitionSize, const char *what)
{
    uint32_t size = v.U32(at + 4, what);
    if (size < headerSize)
        Fail(std::string(what) + " smaller than its header");
    v.Need(at, size, what);
    uint32_t count = v.U32(at + 8, what);
    if (definitionSize != 0 && count > (size - headerSize) / definitionSize)
        Fail(std::string(what) + " count beyond its size");
    return {at, at + size, at + headerSize, count};
}

uint16_t NameHash(const std::string &name)
{
    uint16_t hash = 0;
    for (char c : name)
        hash = static_cast<uint16_t>(hash * 65599u + static_cast<uint8_t>(c));
    return hash;
}

// BinXml over [at, end): the inline names and tokens of a template's shape.
class Fragment {
public:
    Fragment(const View &v, size_t at, size_t end) : v_(v), at_(at), end_(end) {}

    uint8_t Token()
    {
        if (at_ >= end_)
            Fail("template shape ends early");
        return v_.U8(at_++, "template token");
    }
    void Expect(uint8_t token, const char *what)
    {
        if (Token() != token)
            Fail(std::string("template shape: expected ") + what);
    }
    uint16_t U16()
    {
        Need(2);
        uint16_t value = v_.U16(at_, "template shape");
        at_ += 2;
        return value;
    }
    uint32_t U32()
    {
        Need(4);
        uint32_t value = v_.U32(at_, "template shape");
        at_ += 4;
        return value;
    }
    std::string Name()
    {
        uint16_t hash = U16();
        uint16_t length = U16();
        Need(2 * (static_cast<size_t>(length) + 1));
        std::string name = v_.Text(at_, length, "template name");
        at_ += 2 * static_cast<size_t>(length);
        if (U16() != 0)
            Fail("template name without its NUL");
        if (NameHash(name) != hash)
            Fail("template name with a wrong hash: " + name);
        return name;
    }
    std::string ValueText()
    {
        uint8_t type = Token();
        if (type != 0x01)
            Fail("template attribute value that is not a string");
        uint16_t length = U16();
        Need(2 * static_cast<size_t>(length));
        std::string text = v_.Text(at_, length, "template value");
        at_ += 2 * static_cast<size_t>(length);
        return text;
    }
    // An element's length runs from after its length field to its end token; it has to stay
    // within the fragment.
    void CheckLength(uint32_t length)
    {
        if (length > end_ - at_)
            Fail("template element longer than the shape");
    }

private:
    void Need(size_t count)
    {
        if (count > end_ - at_)
            Fail("template shape ends early");
    }
    const View &v_;
    size_t at_, end_;
};

constexpr uint8_t kMore = 0x40;

void ReadShape(const View &v, size_t at, size_t end, Template *t)
{
    Fragment f(v, at, end);
    f.Expect(0x0F, "fragment header");
    f.U16();
    f.Token(); // version and flags
    uint8_t open = f.Token();
    if ((open & ~kMore) != 0x01)
        Fail("template shape without its element");
    f.U16(); // dependency
    f.CheckLength(f.U32());
    t->root = f.Name();
    if (open & kMore)
        Fail("template root with attributes");
    f.Expect(0x02, "close of the start element");
    for (;;) {
        uint8_t token = f.Token();
        if (token == 0x04)
            break;
        if ((token & ~kMore) != 0x01)
            Fail("template content that is not an element");
        Field field;
        f.U16(); // dependency
        f.CheckLength(f.U32());
        if (f.Name() != "Data")
            Fail("template element that is not Data");
        if (token & kMore) {
            f.U32(); // attribute list length
            uint8_t attribute;
            do {
                attribute = f.Token();
                if ((attribute & ~kMore) != 0x06)
                    Fail("template attribute expected");
                std::string name = f.Name();
                if ((f.Token() & ~kMore) != 0x05)
                    Fail("template attribute without a value");
                std::string value = f.ValueText();
                if (name == "Name")
                    field.name = value;
            } while (attribute & kMore);
        }
        f.Expect(0x02, "close of the Data start element");
        uint8_t substitution = f.Token();
        if (substitution != 0x0D && substitution != 0x0E)
            Fail("Data element without a substitution");
        field.substitution = f.U16();
        field.type = f.Token();
        f.Expect(0x04, "end of the Data element");
        t->data.push_back(field);
    }
    f.Expect(0x00, "end of the shape");
}

} // namespace

bool ReadManifest(Bytes crim, Manifest *m, std::string *error)
{
    try {
        View whole(crim, crim.size);
        if (!whole.Tag(0, "CRIM"))
            Fail("no CRIM signature");
        uint32_t size = whole.U32(4, "CRIM header");
        if (size < 16 || size > crim.size)
            Fail("CRIM size beyond the resource");
        View v(crim, size);
        *m = Manifest{};
        m->major = v.U16(8, "CRIM header");
        m->minor = v.U16(10, "CRIM header");
        if (v.U32(12, "CRIM header") != 1)
            Fail("not exactly one provider");
        m->provider = v.ReadGuid(16);
        size_t wevt = v.U32(32, "provider descriptor");
        if (!v.Tag(wevt, "WEVT"))
            Fail("provider without its WEVT signature");
        m->providerMessage = v.U32(wevt + 8, "WEVT header");
        uint32_t elementCount = v.U32(wevt + 12, "WEVT header");
        if (elementCount > v.Limit() / 8)
            Fail("WEVT element count beyond the manifest");
        v.Need(wevt + 20, 8 * static_cast<size_t>(elementCount), "WEVT element list");

        std::map<size_t, int> levelAt, templateAt;
        struct RawEvent {
            Event event;
            uint32_t templateOffset, levelOffset;
        };
        std::vector<RawEvent> raw;
        bool seen[5] = {};
        auto once = [&seen](int index, const char *what) {
            if (seen[index])
                Fail(std::string("second ") + what + " table");
            seen[index] = true;
        };
        for (uint32_t i = 0; i < elementCount; ++i) {
            size_t at = v.U32(wevt + 20 + 8 * static_cast<size_t>(i), "WEVT element list");
            if (v.Tag(at, "CHAN")) {
                once(0, "channel");
                Element e = OpenElement(v, at, 12, 16, "CHAN");
                for (uint32_t c = 0; c < e.count; ++c) {
                    size_t d = e.first + 16 * static_cast<size_t>(c);
                    m->channels.push_back({v.U32(d, "channel"), v.U32(d + 12, "channel"),
                                           SizedName(v, v.U32(d + 4, "channel"), "channel name")});
                }
            } else if (v.Tag(at, "LEVL")) {
                once(1, "level");
                Element e = OpenElement(v, at, 12, 12, "LEVL");
                for (uint32_t l = 0; l < e.count; ++l) {
                    size_t d = e.first + 12 * static_cast<size_t>(l);
                    levelAt[d] = static_cast<int>(m->levels.size());
                    m->levels.push_back({v.U32(d, "level"), v.U32(d + 4, "level"),
                                         SizedName(v, v.U32(d + 8, "level"), "level name")});
                }
            } else if (v.Tag(at, "KEYW")) {
                once(2, "keyword");
                Element e = OpenElement(v, at, 12, 16, "KEYW");
                for (uint32_t k = 0; k < e.count; ++k) {
                    size_t d = e.first + 16 * static_cast<size_t>(k);
                    m->keywords.push_back({v.U64(d, "keyword"), v.U32(d + 8, "keyword"),
                                           SizedName(v, v.U32(d + 12, "keyword"), "keyword name")});
                }
            } else if (v.Tag(at, "TTBL")) {
                once(3, "template");
                Element e = OpenElement(v, at, 12, 40, "TTBL");
                size_t temp = e.first;
                for (uint32_t t = 0; t < e.count; ++t) {
                    if (!v.Tag(temp, "TEMP"))
                        Fail("template without its TEMP signature");
                    uint32_t tempSize = v.U32(temp + 4, "TEMP");
                    if (tempSize < 40 || tempSize > e.end - temp)
                        Fail("template size beyond its table");
                    size_t tempEnd = temp + tempSize;
                    uint32_t descriptorCount = v.U32(temp + 8, "TEMP");
                    uint32_t nameCount = v.U32(temp + 12, "TEMP");
                    size_t items = v.U32(temp + 16, "TEMP");
                    Template tp;
                    tp.guid = v.ReadGuid(temp + 24);
                    if (descriptorCount != nameCount)
                        Fail("template with unnamed fields");
                    if (items < temp + 40 || items > tempEnd || descriptorCount > (tempEnd - items) / 20)
                        Fail("template fields beyond the template");
                    ReadShape(v, temp + 40, items, &tp);
                    for (uint32_t d = 0; d < descriptorCount; ++d) {
                        size_t item = items + 20 * static_cast<size_t>(d);
                        Field field;
                        field.type = v.U8(item + 4, "template field");
                        field.output = v.U8(item + 5, "template field");
                        field.substitution = static_cast<uint16_t>(d);
                        field.name = SizedName(v, v.U32(item + 16, "template field"), "template field name");
                        tp.descriptors.push_back(field);
                    }
                    templateAt[temp] = static_cast<int>(m->templates.size());
                    m->templates.push_back(tp);
                    temp = tempEnd;
                }
            } else if (v.Tag(at, "EVNT")) {
                once(4, "event");
                Element e = OpenElement(v, at, 16, 48, "EVNT");
                for (uint32_t n = 0; n < e.count; ++n) {
                    size_t d = e.first + 48 * static_cast<size_t>(n);
                    RawEvent r;
                    r.event.value = v.U16(d, "event");
                    r.event.version = v.U8(d + 2, "event");
                    r.event.channel = v.U8(d + 3, "event");
                    r.event.level = v.U8(d + 4, "event");
                    r.event.opcode = v.U8(d + 5, "event");
                    r.event.task = v.U16(d + 6, "event");
                    r.event.keywords = v.U64(d + 8, "event");
                    r.event.message = v.U32(d + 16, "event");
                    r.templateOffset = v.U32(d + 20, "event");
                    r.levelOffset = v.U32(d + 28, "event");
                    raw.push_back(r);
                }
            } else {
                Fail("element of an unknown signature");
            }
        }
        for (RawEvent &r : raw) {
            if (r.templateOffset != 0) {
                auto t = templateAt.find(r.templateOffset);
                if (t == templateAt.end())
                    Fail("event pointing at no template");
                r.event.templateIndex = t->second;
            }
            if (r.levelOffset != 0) {
                auto l = levelAt.find(r.levelOffset);
                if (l == levelAt.end())
                    Fail("event pointing at no level");
                r.event.levelIndex = l->second;
            }
            m->events.push_back(r.event);
        }
        return true;
    } catch (const Bad &bad) {
        *error = bad.why;
        return false;
    }
}

std::string GuidText(const Guid &g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[3], g[2],
                  g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return text;
}

} // namespace wevtread
