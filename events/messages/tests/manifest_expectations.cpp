#include "manifest_expectations.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace manifest_expect {

namespace {

struct ExpectedField {
    const char *name;
    uint8_t type;   // 8 win:UInt32, 1 win:UnicodeString
    uint8_t output; // 8 xs:unsignedInt, 1 xs:string
};

const std::vector<std::vector<ExpectedField>> kTemplates = {
    {{"Uint1", 8, 8}, {"Uint2", 8, 8}, {"Uint3", 8, 8}, {"Str1", 1, 1}}, // T1
    {{"Uint1", 8, 8}, {"Str1", 1, 1}},                                   // T2
    {{"Uint1", 8, 8}},                                                   // T3
    {{"Str1", 1, 1}},                                                    // T4
};

uint32_t Identifier(uint8_t level, uint16_t value)
{
    uint32_t severity = level == 2 ? 0xC0000000u : level == 3 ? 0x80000000u : 0x40000000u;
    return severity | 0x01010000u | value;
}

} // namespace

std::vector<ExpectedEvent> ExpectedEvents()
{
    std::vector<ExpectedEvent> events;
    auto add = [&events](uint16_t value, uint8_t level, int tmpl) {
        events.push_back({value, level, tmpl, Identifier(level, value)});
    };
    add(100, 4, -1);
    add(101, 4, -1);
    add(102, 2, 3);
    add(103, 2, -1);
    add(104, 2, 3);
    add(105, 2, 3);
    add(110, 3, 1);
    add(111, 3, 1);
    add(112, 4, 3);
    add(258, 4, 0);
    std::vector<unsigned> classes;
    for (unsigned c = 2; c <= 14; ++c)
        classes.push_back(c);
    for (unsigned c : {17, 18, 19, 20, 32, 33, 34, 36, 37, 38, 39, 40, 41, 42})
        classes.push_back(c);
    for (unsigned c = 50; c <= 59; ++c)
        classes.push_back(c);
    classes.push_back(255);
    for (unsigned c : classes) {
        uint16_t base = static_cast<uint16_t>(c * 256);
        add(base + 2, 4, 0);
        add(base + 3, 4, 0);
        add(base + 6, 4, 1);
        add(base + 9, 3, 0);
        if (c == 17) {
            add(4365, 2, 0);
            add(4366, 4, 0);
        }
        add(base + 15, 2, 0);
    }
    return events;
}

void ExpectManifest(const wevtread::Manifest &m)
{
    EXPECT_EQ(m.major, 3);
    EXPECT_EQ(m.minor, 1);
    EXPECT_EQ(wevtread::GuidText(m.provider), kProviderGuid);
    EXPECT_EQ(m.providerMessage, kProviderMessage);

    ASSERT_EQ(m.channels.size(), 1u);
    EXPECT_EQ(m.channels[0].name, "System");
    EXPECT_EQ(m.channels[0].message, kChannelMessage);
    const uint32_t channel = m.channels[0].value;

    ASSERT_EQ(m.levels.size(), 3u);
    const struct {
        uint32_t value;
        const char *name;
        uint32_t message;
    } levels[] = {{2, "win:Error", 0x50000002}, {3, "win:Warning", 0x50000003}, {4, "win:Informational", 0x50000004}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(m.levels[i].value, levels[i].value);
        EXPECT_EQ(m.levels[i].name, levels[i].name);
        EXPECT_EQ(m.levels[i].message, levels[i].message);
    }

    ASSERT_EQ(m.keywords.size(), 1u);
    EXPECT_EQ(m.keywords[0].mask, kKeyword);

    ASSERT_EQ(m.templates.size(), kTemplates.size());
    for (size_t t = 0; t < kTemplates.size(); ++t) {
        SCOPED_TRACE("template T" + std::to_string(t + 1));
        const wevtread::Template &got = m.templates[t];
        EXPECT_EQ(got.root, "EventData");
        ASSERT_EQ(got.descriptors.size(), kTemplates[t].size());
        ASSERT_EQ(got.data.size(), kTemplates[t].size());
        for (size_t f = 0; f < kTemplates[t].size(); ++f) {
            EXPECT_EQ(got.descriptors[f].name, kTemplates[t][f].name);
            EXPECT_EQ(got.descriptors[f].type, kTemplates[t][f].type);
            EXPECT_EQ(got.descriptors[f].output, kTemplates[t][f].output);
            // The shape's Data element of the field: its name and the substitution of that field.
            EXPECT_EQ(got.data[f].name, kTemplates[t][f].name);
            EXPECT_EQ(got.data[f].substitution, f);
            EXPECT_EQ(got.data[f].type, kTemplates[t][f].type);
        }
        for (size_t other = 0; other < t; ++other)
            EXPECT_NE(got.guid, m.templates[other].guid);
    }

    std::vector<ExpectedEvent> expected = ExpectedEvents();
    ASSERT_EQ(expected.size(), 202u);
    ASSERT_EQ(m.events.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const wevtread::Event &e = m.events[i];
        SCOPED_TRACE(testing::Message() << "event " << expected[i].value);
        EXPECT_EQ(e.value, expected[i].value);
        EXPECT_EQ(e.level, expected[i].level);
        ASSERT_GE(e.levelIndex, 0);
        EXPECT_EQ(m.levels[static_cast<size_t>(e.levelIndex)].value, expected[i].level);
        EXPECT_EQ(e.templateIndex, expected[i].templateIndex);
        EXPECT_EQ(e.message, expected[i].message);
        EXPECT_EQ(e.keywords, kKeyword);
        EXPECT_EQ(e.channel, channel);
        EXPECT_EQ(e.version, 0);
        EXPECT_EQ(e.opcode, 0);
        EXPECT_EQ(e.task, 0);
    }
}

void ExpectFileMatches(const std::string &xml, const wevtread::Manifest &m)
{
    std::smatch match;
    ASSERT_TRUE(std::regex_search(xml, match, std::regex(R"re(<provider name="([^"]*)"\s+guid="([^"]*)")re")));
    EXPECT_EQ(match[1], kProviderName);
    EXPECT_EQ(match[2], wevtread::GuidText(m.provider));
    EXPECT_TRUE(std::regex_search(xml, std::regex(R"re(<importChannel chid="System" name="System"/>)re")));

    // Templates by id, each with its fields.
    std::map<std::string, std::vector<std::string>> templates;
    std::regex templateRe(R"re(<template tid="(\w+)">([\s\S]*?)</template>)re");
    std::regex dataRe(R"re(<data name="(\w+)" inType="win:(\w+)"/>)re");
    for (auto t = std::sregex_iterator(xml.begin(), xml.end(), templateRe); t != std::sregex_iterator(); ++t) {
        std::string body = (*t)[2];
        std::vector<std::string> &fields = templates[(*t)[1]];
        for (auto d = std::sregex_iterator(body.begin(), body.end(), dataRe); d != std::sregex_iterator(); ++d)
            fields.push_back(std::string((*d)[1]) + ":" + std::string((*d)[2]));
    }
    ASSERT_EQ(templates.size(), m.templates.size());
    std::map<std::string, size_t> templateOfId;
    for (size_t t = 0; t < m.templates.size(); ++t) {
        std::string id = "T" + std::to_string(t + 1);
        ASSERT_TRUE(templates.count(id)) << id;
        std::vector<std::string> fields;
        for (const wevtread::Field &f : m.templates[t].descriptors)
            fields.push_back(f.name + ":" + (f.type == 8 ? "UInt32" : f.type == 1 ? "UnicodeString" : "?"));
        EXPECT_EQ(templates[id], fields) << id;
        templateOfId[id] = t;
    }

    const std::map<std::string, uint8_t> levels = {{"win:Error", 2}, {"win:Warning", 3}, {"win:Informational", 4}};
    std::regex eventRe(R"re(<event value="(\d+)"[^>]*?level="([\w:]+)" channel="(\w+)"( template="(\w+)")?)re");
    size_t count = 0;
    for (auto e = std::sregex_iterator(xml.begin(), xml.end(), eventRe); e != std::sregex_iterator(); ++e, ++count) {
        ASSERT_LT(count, m.events.size());
        const wevtread::Event &got = m.events[count];
        SCOPED_TRACE(testing::Message() << "event " << (*e)[1]);
        EXPECT_EQ(std::stoul((*e)[1]), got.value);
        ASSERT_TRUE(levels.count((*e)[2]));
        EXPECT_EQ(levels.at((*e)[2]), got.level);
        EXPECT_EQ((*e)[3], "System");
        if ((*e)[5].matched) {
            ASSERT_TRUE(templateOfId.count((*e)[5]));
            EXPECT_EQ(static_cast<int>(templateOfId[(*e)[5]]), got.templateIndex);
        } else {
            EXPECT_EQ(got.templateIndex, -1);
        }
    }
    EXPECT_EQ(count, m.events.size());
}

std::string ReadFileText(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace manifest_expect
