// The compiled event manifest: a "CRIM" header with one provider, whose "WEVT" block lists the
// provider's element tables (channels, levels, keywords, templates, events). Little-endian
// throughout; every offset is counted from the start of the CRIM header. Names are stored as a
// 32-bit size (counting itself) followed by the UTF-16 text and its terminating NUL, placed on
// 8-byte boundaries. Templates carry their XML shape as a BinXml fragment, whose element and
// attribute names stand inline (hash, length, text, NUL), followed by one 20-byte descriptor and
// one name per field.
#include "evtgen.h"

#include <stdexcept>

namespace evtgen {

namespace {

using evtable::EventTable;

class Bytes {
public:
    size_t Size() const { return data_.size(); }
    void U8(uint8_t v) { data_.push_back(v); }
    void U16(uint16_t v)
    {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v)
    {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void U64(uint64_t v)
    {
        U32(static_cast<uint32_t>(v));
        U32(static_cast<uint32_t>(v >> 32));
    }
    void Tag(const char (&tag)[5])
    {
        for (int i = 0; i < 4; ++i)
            U8(static_cast<uint8_t>(tag[i]));
    }
    void Guid(const evtable::Guid &g)
    {
        U32(g.data1);
        U16(g.data2);
        U16(g.data3);
        for (uint8_t byte : g.data4)
            U8(byte);
    }
    void Utf16(const std::string &text)
    {
        for (char c : text) {
            if (static_cast<unsigned char>(c) >= 0x80)
                throw std::runtime_error("event table texts are ASCII: " + text);
            U16(static_cast<uint8_t>(c));
        }
    }
    void Align(size_t to)
    {
        while (data_.size() % to != 0)
            U8(0);
    }
    // A place for a 32-bit value known later.
    size_t Hole32()
    {
        size_t at = data_.size();
        U32(0);
        return at;
    }
    void Patch32(size_t at, size_t value)
    {
        if (value > 0xFFFFFFFFu)
            throw std::runtime_error("manifest too large");
        for (int i = 0; i < 4; ++i)
            data_[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    std::vector<uint8_t> Take() { return std::move(data_); }

private:
    std::vector<uint8_t> data_;
};

uint32_t Offset(size_t at)
{
    return static_cast<uint32_t>(at);
}

// A name: its size (itself, the text and the NUL), the text, the NUL; then padding to 8 bytes.
void Name(Bytes &b, const std::string &text)
{
    b.U32(static_cast<uint32_t>(4 + 2 * (text.size() + 1)));
    b.Utf16(text);
    b.U16(0);
    b.Align(8);
}

// The hash by which BinXml names are looked up: each UTF-16 unit folded in by 65599, low 16 bits.
uint16_t NameHash(const std::string &name)
{
    uint32_t hash = 0;
    for (char c : name)
        hash = hash * 65599u + static_cast<uint8_t>(c);
    return static_cast<uint16_t>(hash);
}

// An element table: its place in the provider's list, its signature, its size (patched when it
// is complete) and the count of its definitions.
class Element {
public:
    Element(Bytes &b, size_t listedAt, const char (&tag)[5], size_t count) : b_(b), start_(b.Size())
    {
        b.Patch32(listedAt, start_);
        b.Tag(tag);
        size_ = b.Hole32();
        b.U32(static_cast<uint32_t>(count));
    }
    void Close() { b_.Patch32(size_, b_.Size() - start_); }

private:
    Bytes &b_;
    size_t start_;
    size_t size_;
};

// The names of an element's definitions, after the definitions; each definition's hole gets the
// offset of its name.
void NamesAfter(Bytes &b, const std::vector<size_t> &holes, const std::vector<std::string> &names)
{
    b.Align(8);
    for (size_t i = 0; i < holes.size(); ++i) {
        b.Patch32(holes[i], b.Size());
        Name(b, names[i]);
    }
}

void InlineName(Bytes &b, const std::string &name)
{
    b.U16(NameHash(name));
    b.U16(static_cast<uint16_t>(name.size()));
    b.Utf16(name);
    b.U16(0);
}

namespace token {
constexpr uint8_t kEof = 0x00;
constexpr uint8_t kOpenStartElement = 0x01;
constexpr uint8_t kCloseStartElement = 0x02;
constexpr uint8_t kEndElement = 0x04;
constexpr uint8_t kValue = 0x05;
constexpr uint8_t kAttribute = 0x06;
constexpr uint8_t kOptionalSubstitution = 0x0E;
constexpr uint8_t kFragmentHeader = 0x0F;
constexpr uint8_t kHasMore = 0x40; // on a start element: attributes follow
constexpr uint8_t kStringType = 0x01;
constexpr uint16_t kNoDependency = 0xFFFF;
} // namespace token

// <EventData><Data Name="field">%n</Data>...</EventData>: the shape of the event's data, one Data
// element per field whose content is the field's substitution. A Data element is left out when
// its value is missing, so it depends on its substitution.
void TemplateFragment(Bytes &b, const evtable::Template &t)
{
    using namespace token;
    b.U8(kFragmentHeader);
    b.U8(1); // version 1.1
    b.U8(1);
    b.U8(0); // flags
    b.U8(kOpenStartElement);
    b.U16(kNoDependency);
    size_t outerLength = b.Hole32();
    InlineName(b, "EventData");
    b.U8(kCloseStartElement);
    for (size_t i = 0; i < t.fields.size(); ++i) {
        const evtable::Field &f = t.fields[i];
        b.U8(kOpenStartElement | kHasMore);
        b.U16(static_cast<uint16_t>(i));
        size_t length = b.Hole32();
        InlineName(b, "Data");
        size_t attributesLength = b.Hole32();
        size_t attributesStart = b.Size();
        b.U8(kAttribute);
        InlineName(b, "Name");
        b.U8(kValue);
        b.U8(kStringType);
        b.U16(static_cast<uint16_t>(f.name.size()));
        b.Utf16(f.name);
        b.Patch32(attributesLength, b.Size() - attributesStart);
        b.U8(kCloseStartElement);
        b.U8(kOptionalSubstitution);
        b.U16(static_cast<uint16_t>(i));
        b.U8(static_cast<uint8_t>(f.type)); // the value types share the input types' numbers
        b.U8(kEndElement);
        b.Patch32(length, b.Size() - (length + 4));
    }
    b.U8(kEndElement);
    b.Patch32(outerLength, b.Size() - (outerLength + 4));
    b.U8(kEof);
}

uint8_t OutputType(evtable::FieldType type)
{
    // xs:string (1) for text, xs:unsignedInt (8) for the numbers.
    return type == evtable::FieldType::UnicodeString ? 1 : 8;
}

} // namespace

std::vector<uint8_t> ManifestResource(const EventTable &table)
{
    Bytes b;
    constexpr uint32_t kNoMessage = 0xFFFFFFFF;

    // CRIM header, version 3.1, one provider.
    b.Tag("CRIM");
    size_t crimSize = b.Hole32();
    b.U16(3);
    b.U16(1);
    b.U32(1);
    b.Guid(table.providerGuid);
    size_t providerOffset = b.Hole32();

    // The provider: its message (the provider's name) and the list of its element tables.
    constexpr int kElements = 5;
    b.Patch32(providerOffset, b.Size());
    size_t wevt = b.Size();
    b.Tag("WEVT");
    size_t wevtSize = b.Hole32();
    b.U32(table.providerMessage.id);
    b.U32(kElements);
    b.U32(0); // no further values
    size_t elementOffsets[kElements];
    for (size_t &at : elementOffsets) {
        at = b.Hole32();
        b.U32(0);
    }
    b.Patch32(wevtSize, b.Size() - wevt);
    b.Align(8);
    int element = 0;

    // Channels: the System log.
    Element chan(b, elementOffsets[element++], "CHAN", 1);
    b.U32(table.channelValue);
    std::vector<size_t> channelName{b.Hole32()};
    b.U32(0);
    b.U32(table.channelMessage.id);
    NamesAfter(b, channelName, {table.channelName});
    chan.Close();

    // Levels, each with its message.
    Element levl(b, elementOffsets[element++], "LEVL", table.levels.size());
    std::vector<size_t> levelDefinition, levelName;
    std::vector<std::string> levelText;
    for (const evtable::LevelEntry &l : table.levels) {
        levelDefinition.push_back(b.Size());
        b.U32(static_cast<uint32_t>(l.level));
        b.U32(l.message.id);
        levelName.push_back(b.Hole32());
        levelText.push_back(l.name);
    }
    NamesAfter(b, levelName, levelText);
    levl.Close();

    // Keywords: the one every event carries, the System log's.
    Element keyw(b, elementOffsets[element++], "KEYW", 1);
    b.U64(table.keyword);
    b.U32(kNoMessage);
    std::vector<size_t> keywordName{b.Hole32()};
    NamesAfter(b, keywordName, {table.channelName});
    keyw.Close();

    // Templates.
    Element ttbl(b, elementOffsets[element++], "TTBL", table.templates.size());
    std::vector<size_t> templateAt;
    for (const evtable::Template &t : table.templates) {
        size_t temp = b.Size();
        templateAt.push_back(temp);
        b.Tag("TEMP");
        size_t tempSize = b.Hole32();
        b.U32(static_cast<uint32_t>(t.fields.size()));
        b.U32(static_cast<uint32_t>(t.fields.size()));
        size_t itemsOffset = b.Hole32();
        b.U32(1); // one fragment
        b.Guid(t.guid);
        TemplateFragment(b, t);
        b.Patch32(itemsOffset, b.Size());
        std::vector<size_t> itemName;
        for (const evtable::Field &f : t.fields) {
            b.U32(0);
            b.U8(static_cast<uint8_t>(f.type));
            b.U8(OutputType(f.type));
            b.U16(0);
            b.U32(0);
            b.U16(1); // one value
            b.U16(0); // of its type's own length
            itemName.push_back(b.Hole32());
        }
        for (size_t i = 0; i < t.fields.size(); ++i) {
            b.Patch32(itemName[i], b.Size());
            b.U32(static_cast<uint32_t>(4 + 2 * (t.fields[i].name.size() + 1)));
            b.Utf16(t.fields[i].name);
            b.U16(0);
        }
        b.Align(8);
        b.Patch32(tempSize, b.Size() - temp);
    }
    ttbl.Close();

    // Events.
    Element evnt(b, elementOffsets[element++], "EVNT", table.events.size());
    b.U32(0);
    for (const evtable::Event &e : table.events) {
        size_t level = 0;
        for (size_t i = 0; i < table.levels.size(); ++i)
            if (table.levels[i].level == e.level)
                level = levelDefinition[i];
        if (level == 0)
            throw std::runtime_error("event level without definition: " + e.symbol);
        b.U16(e.value);
        b.U8(0); // version
        b.U8(table.channelValue);
        b.U8(static_cast<uint8_t>(e.level));
        b.U8(0);  // opcode
        b.U16(0); // task
        b.U64(table.keyword);
        b.U32(e.MessageId());
        b.U32(e.templateIndex < 0 ? 0 : Offset(templateAt.at(static_cast<size_t>(e.templateIndex))));
        b.U32(0); // opcode definition
        b.U32(Offset(level));
        b.U32(0); // task definition
        b.U32(0);
        b.U32(0);
        b.U32(0);
    }
    evnt.Close();

    b.Patch32(crimSize, b.Size());
    return b.Take();
}

} // namespace evtgen
