// The manifest rewrite: a line holding one attribute alone becomes that attribute's line; a line
// that holds more takes that line's indentation, its values change in place and nothing else on
// it is lost.
#include <gtest/gtest.h>

#include <string>

#include "manifest_rewrite.h"

namespace {

constexpr char kPath[] = "C:\\Program Files\\Vostrel-Quinbar\\TLM\\Service\\qzrtlmevents.man";
constexpr char kExe[] = "C:\\Program Files\\Vostrel-Quinbar\\TLM\\Service\\qzrtlm.exe";
constexpr char kSource[] = "NDX Velmarine Management Service";

std::string Rewrite(const std::string &text)
{
    return tlmca::RewriteManifest(text, kPath, kSource, "qzrtlm.exe");
}

TEST(ManifestRewrite, CasesAsATable)
{
    struct Case {
        const char *name;
        std::string in;
        std::string out;
    };
    const std::string exe = kExe;
    const Case cases[] = {
        {"departure: one-line provider keeps guid, symbol and closing, which the whole-line form loses",
         "    <provider name=\"Old\" guid=\"{1}\" symbol=\"S\" resourceFileName=\"D:\\x\\qzrtlmevents.man\" "
         "messageFileName=\"D:\\y.exe\">\n",
         "             <provider name=\"NDX Velmarine Management Service\" guid=\"{1}\" symbol=\"S\" resourceFileName=\"" +
             exe + "\" messageFileName=\"" + exe + "\">\r\n"},
        {"one attribute to a line: the attribute's own line",
         "  <provider name='Old'\n  guid='{2}'\n\tresourceFileName='a'  \n messageFileName=\"b\"\n>\n",
         "             <provider name=\"NDX Velmarine Management Service\"\r\n  guid='{2}'\r\n"
         "                resourceFileName=\"" + exe + "\"\r\n                messageFileName=\"" + exe +
             "\"\r\n>\r\n"},
        {"closing on the attribute's line: the attribute line's indentation, value in place",
         "<provider name='Old'\n  guid='{2}'\n  resourceFileName='a'\n  messageFileName='b'>\n",
         "             <provider name=\"NDX Velmarine Management Service\"\r\n  guid='{2}'\r\n"
         "                resourceFileName=\"" + exe + "\"\r\n                messageFileName='" + exe + "'>\r\n"},
        {"text before the marker: the attribute line's indentation, value in place",
         "\t <x/> resourceFileName=\"a\"\n", "                <x/> resourceFileName=\"" + exe + "\"\r\n"},
        {"provider with more on its line: the provider line's indentation",
         "<provider name=\"Old\" guid=\"{3}\"\n", "             <provider name=\"" + std::string(kSource) +
             "\" guid=\"{3}\"\r\n"},
        {"two file attributes on one line: the file attributes' indentation",
         "   messageFileName=\"m\" resourceFileName=\"r\"\n",
         "                messageFileName=\"" + exe + "\" resourceFileName=\"" + exe + "\"\r\n"},
        {"an unclosed double quote before a single-quoted value stays unpaired",
         "messageFileName=\"x resourceFileName='a'\n",
         "                messageFileName=\"x resourceFileName='" + exe + "'\r\n"},
        {"a marker that is not rewritten leaves the line's indentation alone", "\t  <provider name=Old\n",
         "\t  <provider name=Old\r\n"},
        {"other lines unchanged, CRLF kept", "<a>\r\n<b/>\r\n", "<a>\r\n<b/>\r\n"},
        {"last line without a line end gets one", "<a>", "<a>\r\n"},
        {"unquoted value left alone", "<provider name=Old>\n", "<provider name=Old>\r\n"},
        {"unterminated value left alone", "resourceFileName=\"C:\\x\n", "resourceFileName=\"C:\\x\r\n"},
        {"empty file stays empty", "", ""},
        {"a marker inside a replaced value goes with it", "resourceFileName=\"provider name=\"A\"\n",
         "                resourceFileName=\"" + exe + "\"A\"\r\n"},
        {"an attribute alone on its line whose old value names other markers",
         "    resourceFileName=\"C:\\provider name=x\\e.man\"\n  messageFileName='resourceFileName=\"y\"'\n",
         "                resourceFileName=\"" + exe + "\"\r\n                messageFileName=\"" + exe + "\"\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string once = Rewrite(c.in);
        EXPECT_EQ(c.out, once);
        EXPECT_EQ(once, Rewrite(once)) << "a rerun must change nothing";
    }
}

TEST(ManifestRewrite, PathWithoutFolderNamesTheServiceAlone)
{
    EXPECT_EQ("                messageFileName=\"qzrtlm.exe\"\r\n",
              tlmca::RewriteManifest("messageFileName=\"x\"\n", "qzrtlmevents.man", kSource, "qzrtlm.exe"));
}

}  // namespace
