#include "module_loader.h"

#include <dlfcn.h>  // dladdr1, for the folder this code is in
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "portio_module.h"
#include "settings.h"
#include "unique_fd.h"

#ifndef PORTIO_MODULE_DIR
#define PORTIO_MODULE_DIR "/usr/lib"
#endif

namespace runlight::portio {

namespace {

void assignText(void* context, const char* text) {
    *static_cast<std::string*>(context) = text != nullptr ? text : "";
}

PortioText textInto(std::string& text) {
    return PortioText{&text, &assignText};
}

const char* settingValue(void* context, const char* key) {
    const SettingValue* value = static_cast<const PortSettings*>(context)->find(key);
    return value != nullptr ? value->text.c_str() : nullptr;
}

const char* settingOrigin(void* context, const char* key) {
    const SettingValue* value = static_cast<const PortSettings*>(context)->find(key);
    return value != nullptr ? value->origin.c_str() : nullptr;
}

PortioSettings settingsView(const PortSettings& settings) {
    return PortioSettings{const_cast<PortSettings*>(&settings), &settingValue, &settingOrigin};
}

// One port's back end inside a module; keeps the module alive while it lives.
class ModuleBackend final : public PortBackend {
public:
    ModuleBackend(std::shared_ptr<const BackendModule> owner, const PortioModule& module,
                  PortioBackend* backend)
        : m_owner(std::move(owner)), m_module(module), m_backend(backend) {}
    ~ModuleBackend() override { m_module.close(m_backend); }
    ModuleBackend(const ModuleBackend&) = delete;
    ModuleBackend& operator=(const ModuleBackend&) = delete;

    Result<void> write(std::uint8_t data) override {
        std::string error;
        if (m_module.write(m_backend, data, textInto(error)) != 1) {
            return fail(error);
        }
        return {};
    }
    Result<std::uint8_t> read() override {
        std::string error;
        std::uint8_t data = 0;
        if (m_module.read(m_backend, &data, textInto(error)) != 1) {
            return fail(error);
        }
        return data;
    }
    // A module's text names the port already (see portio_module.h): passed on as it is.
    std::string label() const override { return {}; }

private:
    std::shared_ptr<const BackendModule> m_owner;
    const PortioModule& m_module;
    PortioBackend* m_backend;
};

// The folder of the object this code is in: the port library as the loader
// found it (a link perhaps) and as it really is. Linked into a program
// (portio-out, the monitor), the loader knows the program only by the name
// it was started with, which its starter chooses freely ("exec -a"): there
// the kernel's link to the running program is asked instead, and only the
// folder of the real file counts.
std::vector<std::string> ownFolders() {
    Dl_info info{};
    link_map* object = nullptr;
    if (dladdr1(reinterpret_cast<void*>(&ownFolders), &info, reinterpret_cast<void**>(&object),
                RTLD_DL_LINKMAP) == 0 ||
        object == nullptr) {
        return {};
    }
    std::error_code failed;
    std::filesystem::path file;
    std::vector<std::string> folders;
    if (object->l_name != nullptr && object->l_name[0] != '\0') {
        file = object->l_name;  // a library, by the path the loader opened
        if (file.is_absolute()) {
            folders.push_back(file.parent_path().string());
        }
    } else {
        file = std::filesystem::read_symlink("/proc/self/exe", failed);  // the program
        if (failed) {
            return {};
        }
    }
    const auto real = std::filesystem::canonical(file, failed);
    if (!failed && (folders.empty() || real.parent_path() != file.parent_path())) {
        folders.push_back(real.parent_path().string());
    }
    return folders;
}

// Whether the file at `path` can be handed to the system's loader without
// harm: a regular file (a FIFO would keep the loader waiting for ever)
// holding a whole ELF shared object of this machine, every loadable segment
// within the file. The loader maps the segments of a file cut short (a broken install, a disk
// that filled up during an upgrade) all the same, and the first touch of a
// page past the file's end is SIGBUS. "" when it can, else what is wrong.
std::string damage(const std::string& path) {
    const UniqueFd file(
        aboveStandardStreams(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)));
    if (!file) {
        return "cannot open it: " + systemReason(errno);
    }
    const int fd = file.get();
    struct stat info {};
    ElfW(Ehdr) header{};
    std::string why;
    if (::fstat(fd, &info) < 0) {
        why = "cannot look at it: " + systemReason(errno);
    } else if (!S_ISREG(info.st_mode)) {
        why = "it is not a regular file";
    } else if (::pread(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
               std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
               header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
               header.e_type != ET_DYN || header.e_phentsize != sizeof(ElfW(Phdr))) {
        why = "it is not a shared library of this machine (cut short, or another file)";
    } else {
        const auto size = static_cast<std::uint64_t>(info.st_size);
        std::vector<ElfW(Phdr)> segments(header.e_phnum);
        const std::size_t bytes = segments.size() * sizeof(ElfW(Phdr));
        if (header.e_phoff > size || bytes > size - header.e_phoff ||
            ::pread(fd, segments.data(), bytes, static_cast<off_t>(header.e_phoff)) !=
                static_cast<ssize_t>(bytes)) {
            why = "it is cut short (" + std::to_string(size) + " bytes, its header lies beyond)";
        }
        for (const ElfW(Phdr) & segment : segments) {
            if (why.empty() && segment.p_type == PT_LOAD &&
                (segment.p_offset > size || segment.p_filesz > size - segment.p_offset)) {
                why = "it is cut short (" + std::to_string(size) + " bytes, its contents need " +
                      std::to_string(segment.p_offset + segment.p_filesz) + ")";
            }
        }
    }
    return why;
}

}  // namespace

std::vector<std::string> moduleFolders() {
    std::vector<std::string> folders = ownFolders();
    if (std::find(folders.begin(), folders.end(), PORTIO_MODULE_DIR) == folders.end()) {
        folders.emplace_back(PORTIO_MODULE_DIR);
    }
    return folders;
}

Result<std::shared_ptr<BackendModule>> BackendModule::load(
    const BackendInfo& backend, const std::vector<std::string>& folders) {
    const std::string file = backend.file;
    std::string path;
    std::string looked;
    for (const std::string& folder : folders) {
        const std::string candidate = folder + "/" + file;
        if (::access(candidate.c_str(), F_OK) == 0) {
            path = candidate;
            break;
        }
        looked += (looked.empty() ? "" : ", ") + folder;
    }
    const std::string install = std::string("install the ") + backend.package +
                                " package (\"sudo apt install " + backend.package + "\")";
    if (path.empty()) {
        return fail(std::string("the ") + backend.title + " back end is not installed: " + file +
                    " is in none of " + looked + "; " + install);
    }
    const std::string damaged = damage(path);
    if (!damaged.empty()) {
        return fail(std::string("cannot load the ") + backend.title + " back end " + path +
                    ": the file is damaged: " + damaged + "; reinstall the " + backend.package +
                    " package (\"sudo apt install --reinstall " + backend.package + "\")");
    }
    // Kept mapped: a module's third-party libraries (libola, protobuf) are
    // not all safe to unload and load again.
    auto library = DynamicLibrary::open(path, DynamicLibrary::Keep::Mapped);
    if (!library) {
        return fail(std::string("cannot load the ") + backend.title + " back end " + path + ": " +
                    library.error() + "; " + install + " again, which brings what it needs");
    }
    const auto factory = library->function<PortioModuleFactory>(PORTIO_MODULE_FACTORY);
    const PortioModule* module = factory ? (*factory)(PORTIO_MODULE_ABI) : nullptr;
    const std::string same = "; install the " + std::string(backend.package) +
                             " package of the same version as the port library";
    if (module == nullptr) {
        return fail(path + " is not a port library module (no " + PORTIO_MODULE_FACTORY + ")" +
                    same);
    }
    if (module->abi != PORTIO_MODULE_ABI) {
        return fail(path + " speaks module interface " + std::to_string(module->abi) +
                    ", this port library speaks " + std::to_string(PORTIO_MODULE_ABI) + same);
    }
    if (module->name == nullptr || std::string_view(module->name) != backend.name) {
        return fail(path + " is not the " + backend.title + " back end" + same);
    }
    return std::make_shared<BackendModule>(Loaded{}, path, std::move(*library), module);
}

BackendModule::BackendModule(Loaded, std::string path, DynamicLibrary library,
                             const PortioModule* module)
    : m_path(std::move(path)), m_library(std::move(library)), m_module(module) {}

Result<std::unique_ptr<PortBackend>> BackendModule::open(std::uint16_t address,
                                                         const PortSettings& settings) {
    const PortioSettings view = settingsView(settings);
    std::string error;
    PortioBackend* backend = m_module->open(address, &view, textInto(error));
    if (backend == nullptr) {
        return fail(error.empty() ? portLabel(address) + ": " + m_path + " could not open the port"
                                  : error);
    }
    return std::unique_ptr<PortBackend>(
        std::make_unique<ModuleBackend>(shared_from_this(), *m_module, backend));
}

ModuleWatch::ModuleWatch(Started, std::shared_ptr<const BackendModule> owner,
                         const PortioModule& module, std::unique_ptr<std::function<void()>> changed)
    : m_owner(std::move(owner)), m_module(module), m_changed(std::move(changed)) {}

ModuleWatch::~ModuleWatch() {
    if (m_watch != nullptr) {
        m_module.unwatch(m_watch);
    }
}

ModuleWatch::Reading ModuleWatch::read() const {
    Reading reading;
    m_module.watch_read(m_watch, reading.levels.data(), textInto(reading.problem));
    return reading;
}

namespace {
void callChanged(void* context) {
    (*static_cast<std::function<void()>*>(context))();
}
}  // namespace

Result<std::unique_ptr<ModuleWatch>> BackendModule::watch(std::uint16_t address,
                                                          const PortSettings& settings,
                                                          std::function<void()> changed) const {
    if (m_module->watch == nullptr || m_module->watch_read == nullptr ||
        m_module->unwatch == nullptr) {
        return fail(m_path + " cannot show what its far end holds");
    }
    auto watch =
        std::make_unique<ModuleWatch>(ModuleWatch::Started{}, shared_from_this(), *m_module,
                                      std::make_unique<std::function<void()>>(std::move(changed)));
    const PortioSettings view = settingsView(settings);
    std::string error;
    watch->m_watch = m_module->watch(address, &view, &callChanged, watch->m_changed.get(),
                                     textInto(watch->m_title), textInto(error));
    if (watch->m_watch == nullptr) {
        return fail(error);
    }
    return watch;
}

Result<std::string> BackendModule::probe(std::uint16_t address,
                                         const PortSettings& settings) const {
    const PortioSettings view = settingsView(settings);
    std::string report;
    if (m_module->probe(address, &view, textInto(report)) != 1) {
        return fail(report);
    }
    return report;
}

}  // namespace runlight::portio
