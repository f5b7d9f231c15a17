// Pictures read from and written to files, through the host's system edge.
#include <limits>

#include "refhost/picture.h"
#include "refhost/system.h"

bool load_picture(const std::string& path, int32_t planes, Picture& picture, std::string& error,
                  std::vector<std::string>* notes, DecodeProgress* progress)
{
    std::vector<unsigned char> bytes;
    std::string why;
    if (!read_whole_file(path, bytes, why)) {
        error = "cannot read '" + path + "': " + why;
        return false;
    }
    // The pixels are held three times at the peak: as decoded, as the
    // source and as the destination, beside the plug-in's own buffers.
    const uint64_t usable = usable_memory();
    const uint64_t budget = usable > 0 ? usable / 3 : std::numeric_limits<uint64_t>::max();
    if (!decode_picture(bytes, planes, budget, picture, why, notes, progress)) {
        error = "cannot read '" + path + "': " + why;
        return false;
    }
    return true;
}

bool save_picture(const std::string& path, const Picture& picture, std::string& error)
{
    std::vector<unsigned char> bytes;
    return encode_picture(path, picture, bytes, error) && replace_file(path, bytes, error);
}
