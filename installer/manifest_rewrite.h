#pragma once
// The rewrite of the event manifest that the installer places beside the service: the provider
// is renamed to the service's event source, and the files that carry the resources and messages
// become the service executable in the manifest's own folder.
//
// Only attribute values change, in place: everything else on a line (a guid, a symbol, the
// closing ">") and every other line stay as they were, so running the rewrite twice gives what
// running it once gave. Lines end with CR LF afterwards.

#include <string>
#include <string_view>

namespace tlmca {

// The text of the rewritten manifest. manifestPath is the full path of the manifest file (8-bit
// text); the file attributes name the folder of that path followed by serviceFileName.
std::string RewriteManifest(std::string_view manifest, std::string_view manifestPath,
                            std::string_view providerName, std::string_view serviceFileName);

}  // namespace tlmca
