#include "DecoderModule.h"

#include <dlfcn.h>
#include <mutex>
#include <regex>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kModuleName = "velofon-decoder.so";

struct SModule {
    std::once_flag loaded;
    PNewDecodedFile pNew = nullptr;
    std::string strWhy;
};

SModule& Module()
{
    static SModule module;
    return module;
}

std::string ExecutableFolder()
{
    std::string strPath(4096, '\0');
    const ssize_t nLength = ::readlink("/proc/self/exe", strPath.data(), strPath.size());
    if (nLength <= 0 || static_cast<size_t>(nLength) >= strPath.size())
        return std::string();
    strPath.resize(static_cast<size_t>(nLength));
    return strPath.substr(0, strPath.rfind('/'));
}

// dlerror names the library that is missing first ("libavcodec.so.59:
// cannot open shared object file: ..."); Debian packages it by its soname.
std::string WhatToInstall(const std::string& strError)
{
    std::smatch match;
    static const std::regex kMissing(R"(^(lib[A-Za-z0-9_+-]*?)\.so\.([0-9]+): cannot open shared object file)");
    if (!std::regex_search(strError, match, kMissing))
        return "the decoder module cannot be loaded (" + strError + ")";
    return "FFmpeg's library " + match[1].str() + ".so." + match[2].str() + " is missing: install it (on Debian, "
        + "the package " + match[1].str() + match[2].str() + ")";
}

std::vector<std::string> ModuleCandidates()
{
    const std::string strFolder = ExecutableFolder();
    if (strFolder.empty())
        return {};
    return { strFolder + "/" + kModuleName,
        strFolder.substr(0, strFolder.rfind('/')) + "/lib/VelofonPocket/" + kModuleName };
}

void Load(SModule& module)
{
    const std::string strPath = FindDecoderModule();
    if (strPath.empty()) {
        module.strWhy = std::string("the decoder module ") + kModuleName
            + " is not installed beside the program: install VelofonPocket again to play formats other than WAV";
        return;
    }
    void* pHandle = ::dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!pHandle) {
        module.strWhy = WhatToInstall(::dlerror());
        return;
    }
    // The module stays loaded to the end: objects it made may live as long.
    module.pNew = reinterpret_cast<PNewDecodedFile>(::dlsym(pHandle, kNewDecodedFileSymbol));
    if (!module.pNew)
        module.strWhy = strPath + " is no decoder module of this version: install VelofonPocket again";
}

} // namespace

std::string FindDecoderModule()
{
    for (const std::string& strPath : ModuleCandidates()) {
        if (::access(strPath.c_str(), R_OK) == 0)
            return strPath;
    }
    return std::string();
}

bool LoadDecoderModule(std::string& strWhy)
{
    SModule& module = Module();
    std::call_once(module.loaded, Load, std::ref(module));
    strWhy = module.strWhy;
    return module.pNew != nullptr;
}

std::unique_ptr<IDecodedFile> NewDecodedFile(std::string& strWhy)
{
    if (!LoadDecoderModule(strWhy))
        return nullptr;
    std::unique_ptr<IDecodedFile> pFile(Module().pNew(kDecodedFileInterfaceVersion));
    if (!pFile)
        strWhy = "the decoder module is of another version: install VelofonPocket again";
    return pFile;
}
