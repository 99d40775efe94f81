// Making image files as a machine type stores them.
#include "image/stored_image.h"

#include <fstream>

#include "image/unscramble.h"

std::vector<std::uint8_t> StoredImage(MachineType type, std::vector<std::uint8_t> image) {
    const MachineTypeInfo* info = FindMachineType(type);
    if (info && info->unscrambleOnLoad) {
        Scramble(image.data(), image.size());
    }
    return image;
}

std::string StoredFileSuffix(MachineType type) {
    // The file dialog's pattern is "*" and the suffix.
    const MachineTypeInfo* info = FindMachineType(type);
    return info ? std::string(info->filePattern + 1) : std::string();
}

bool WriteStoredImage(const std::string& path, MachineType type,
                      const std::vector<std::uint8_t>& image) {
    const std::vector<std::uint8_t> stored = StoredImage(type, image);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(stored.data()),
              static_cast<std::streamsize>(stored.size()));
    out.close();
    return out.good();
}
