#pragma once
// The rewrite of the event manifest that the installer places beside the service: the provider
// is renamed to the service's event source, and the files that carry the resources and messages
// become the service executable in the manifest's own folder.
//
// The rewrite goes line by line. A line that holds the provider's name, the resource file or the
// message file alone (as the product's manifest has them, one attribute to a line) is replaced by
// that attribute's line: 13 blanks and "<provider name=" with the event source, or 16 blanks and
// the file attribute naming the service executable. A line that holds more (a guid, a symbol,
// the closing ">") takes the same indentation (13 blanks when it names the provider), and only
// the attribute values change, in place, so that nothing else on it is lost. Every other line
// stays as it was; running the rewrite twice gives what running it once gave. Lines end with
// CR LF afterwards.

#include <string>
#include <string_view>

namespace tlmca {

// The text of the rewritten manifest. manifestPath is the full path of the manifest file (8-bit
// text); the file attributes name the folder of that path followed by serviceFileName.
std::string RewriteManifest(std::string_view manifest, std::string_view manifestPath,
                            std::string_view providerName, std::string_view serviceFileName);

}  // namespace tlmca
