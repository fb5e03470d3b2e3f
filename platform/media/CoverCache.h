// Cover pictures for the desktop's media controls, which take a picture only
// by its address: each is written once into $XDG_CACHE_HOME/VelofonPocket/
// covers/ (~/.cache when unset), named after its content, and the folder is
// kept to kMaxCovers pictures and kMaxCoverBytes, the least recently used
// going first. Stands on GLib for the cache folder. User-interface thread only.
#pragma once

#include <cstddef>
#include <string>

constexpr size_t kMaxCovers = 64;
constexpr size_t kMaxCoverBytes = size_t{32} << 20;

// The path of the picture strBytes (a "jpg", "png" or "img" as strExtension
// says) in the cache, written there when it is not yet; empty for no picture,
// one larger than the whole cache, or a cache that cannot be written.
std::string CacheCover(const std::string& strBytes, const std::string& strExtension);
