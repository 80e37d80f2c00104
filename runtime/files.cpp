#include "runtime/parvex.h"

#include <cstdio>

namespace {
std::string& PluginFolderStorage() {
    static std::string folder;
    return folder;
}
} // namespace

void SetPluginFolder(const std::string& folder) {
    PluginFolderStorage() = folder;
}
const std::string& PluginFolder() {
    return PluginFolderStorage();
}

std::string CParvexFiles::PluginFilePath(const std::string& name) {
    std::string relative = name;
    if (!relative.empty() && (relative[0] == '\\' || relative[0] == '/')) relative.erase(0, 1);
    return PluginFolder() + NativeRelativePath(relative);
}

void CParvexFiles::FileVar(TFile& file, double& variable) {
    if (file.mode == TFile::kWriting) {
        if (file.position < 0) return;
        const auto needed = static_cast<size_t>(file.position) + 1;
        if (file.values.size() < needed) file.values.resize(needed, 0.0f);
        file.values[static_cast<size_t>(file.position)] = static_cast<float>(variable);
        ++file.position;
    } else if (file.mode == TFile::kReading) {
        if (file.position < 0 || static_cast<size_t>(file.position) >= file.values.size()) return;
        variable = static_cast<double>(file.values[static_cast<size_t>(file.position)]);
        ++file.position;
    }
}

void CParvexFiles::FileVar(TFile& file, SharedDouble& variable) {
    double value = variable;
    FileVar(file, value);
    if (file.mode == TFile::kReading) variable = value;
}

void CParvexFiles::FlushFile(const TFile& file) {
    if (file.mode != TFile::kWriting || file.name.empty()) return;
    std::FILE* out = OpenFileAt(PluginFilePath(file.name), "wb");
    if (!out) return;
    for (const float value : file.values) {
        const auto byte = static_cast<unsigned char>(static_cast<uint32_t>(ToIndex(value)) & 0xFFu);
        std::fputc(byte, out);
    }
    std::fclose(out);
}

void CParvexFiles::CloseFile(TFile& file) {
    FlushFile(file);
    file.name.clear();
    file.position = 0;
    file.values.clear();
    file.mode = TFile::kClosed;
}

CParvexFiles::~CParvexFiles() {
    for (const TFile& file : Files) FlushFile(file);
}

void CParvexFiles::WriteLog(const std::string& text) {
    const std::string path = LogFilePath();
    CreateFoldersFor(path);
    std::FILE* log = OpenFileAt(path, "a");
    if (!log) return;
    std::fprintf(log, "%s\n", text.c_str());
    std::fclose(log);
    LogBeep();
}
