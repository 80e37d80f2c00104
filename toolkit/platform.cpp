#include "toolkit/platform.h"

#include "assets/embedded_images.h"

#include <dlfcn.h>

std::string ModuleFolderOf(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname) return {};
    const std::string path = info.dli_fname;
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::span<const unsigned char> EmbeddedPicture(int number) {
    const EmbeddedImage* image = FindEmbeddedImage(number);
    if (!image) return {};
    return {image->data, image->size};
}
