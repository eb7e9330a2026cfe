// The commands that need no selector: ports, show and diff.
#include "commands.h"

#include "exit_codes.h"
#include "image/qt/image_file.h"
#include "image_diff.h"
#include "port_listing.h"
#include "settings_text.h"

#include <QSerialPortInfo>

#include <iostream>

namespace quarvel::cli {

namespace {

void error(const char* command, const QString& message)
{
    std::cerr << "quarvelctl " << command << ": " << message.toStdString() << std::endl;
}

// The file's image, or nothing after saying why. A short file is noted and used.
std::optional<ImageFile> openFile(const char* command, const QString& path)
{
    ImageFileRead read = readImageFile(path);
    if (!read.file) {
        error(command, read.error);
        return std::nullopt;
    }
    const QString note = shortFileNote(path, *read.file);
    if (!note.isEmpty()) error(command, note);
    return std::move(read.file);
}

std::string utf8(const QString& text)
{
    return text.toStdString();
}

} // namespace

int runPorts(const Invocation& invocation)
{
    std::vector<PortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortEntry entry{utf8(info.portName()),
                        utf8(info.systemLocation()),
                        utf8(info.description()),
                        utf8(info.manufacturer()),
                        utf8(info.serialNumber()),
                        std::nullopt,
                        std::nullopt};
        if (info.hasVendorIdentifier()) entry.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier()) entry.productId = info.productIdentifier();
        ports.push_back(std::move(entry));
    }
    std::cout << (invocation.json ? portsJson(ports) : portsText(ports)) << std::flush;
    return exit_code::kSuccess;
}

int runShow(const Invocation& invocation)
{
    const auto file = openFile("show", invocation.files.at(0));
    if (!file) return exit_code::kUsageOrFile;
    const SettingsReport report = makeSettingsReport(file->image);
    std::cout << (invocation.json ? settingsJson(report) : settingsText(report)) << std::flush;
    return exit_code::kSuccess;
}

int runDiff(const Invocation& invocation)
{
    const auto a = openFile("diff", invocation.files.at(0));
    if (!a) return exit_code::kTrouble;
    const auto b = openFile("diff", invocation.files.at(1));
    if (!b) return exit_code::kTrouble;
    const auto differences = diffImages(a->image, b->image);
    if (differences.empty()) return exit_code::kSuccess;
    std::cout << differencesText(differences) << differences.size()
              << (differences.size() == 1 ? " cell differs\n" : " cells differ\n") << std::flush;
    return exit_code::kDifferent;
}

} // namespace quarvel::cli
