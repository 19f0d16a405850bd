// vemo-trace: the trace job from a shell, for scripts and batches.
//
// Traces each IMAGE in turn with the settings of Vemo.sys, overridden by
// the options given. Stage texts and failures go to standard error, the
// completion message of each image to standard output. Exit status: 0 when
// every image was traced and every file written, 1 when anything failed,
// 2 for a usage error.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include "app/Vemo_comp.h"
#include "app/Vemo_sys.h"
#include "app/Vemo_texts.h"
#include "image/Vemo_susie.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* kDescription =
    "Traces scanned line drawings (BMP, TIFF, PNG, GIF) into centre-line polylines and writes them\n"
    "as a text file (.txt), a DXF drawing (.dxf) and/or an A10 file (.A10), named after the image.\n"
    "\n"
    "Formats, axis flips and ratios not given here come from Vemo.sys in the system folder; each\n"
    "switch has a --no- form that turns off what the file turns on. The output folder defaults to\n"
    "each image's own folder. The intermediate files (temp.sqr, temp.sqo, temp.pxy, temp.lix) are\n"
    "written in the image's folder and removed after the export unless --keep-temp is given.\n"
    "\n"
    "Exit status: 0 every image traced and every file written, 1 something failed, 2 usage error.";

struct Switch {
    const char* name;
    const char* on;
    const char* off;
    bool TraceOptions::*field;
};

const Switch kSwitches[] = {
    {"txt", "Write the text file.", "Do not write the text file.", &TraceOptions::exportText},
    {"dxf", "Write the DXF drawing.", "Do not write the DXF drawing.", &TraceOptions::exportDxf},
    {"a10", "Write the A10 file.", "Do not write the A10 file.", &TraceOptions::exportA10},
    {"flip-x", "Mirror X about the image's width.", "Do not mirror X.", &TraceOptions::flipX},
    {"flip-y", "Mirror Y about the image's height.", "Do not mirror Y.", &TraceOptions::flipY},
};

std::string ImageFolder(const std::string& imagePath) {
    const std::size_t slash = imagePath.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return imagePath.substr(0, slash);
}

void RemoveIntermediateFiles(const TraceResult& result) {
    for (const std::string* path : {&result.squaresPath, &result.groupsPath, &result.pointsPath, &result.linesPath}) {
        std::error_code ignored;
        if (!path->empty()) std::filesystem::remove(*path, ignored);
    }
}

int UsageError(const QString& text) {
    std::cerr << "vemo-trace: " << text.toStdString() << "\nTry 'vemo-trace --help'.\n";
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("vemo-trace");

    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    parser.addHelpOption();
    for (const Switch& option : kSwitches) {
        parser.addOption(QCommandLineOption(option.name, option.on));
        parser.addOption(QCommandLineOption(QString("no-") + option.name, option.off));
    }
    const QCommandLineOption outputOption({"o", "output"}, "Write the output files into DIR.", "DIR");
    const QCommandLineOption xRatioOption("x-ratio", "Scale X by R (a decimal number).", "R");
    const QCommandLineOption yRatioOption("y-ratio", "Scale Y by R (a decimal number).", "R");
    const QCommandLineOption systemOption("system-folder", "Use DIR as the system folder (Vemo.sys, base image, plug-ins).",
                                          "DIR");
    const QCommandLineOption keepOption("keep-temp", "Keep the intermediate files.");
    parser.addOptions({outputOption, xRatioOption, yRatioOption, systemOption, keepOption});
    parser.addPositionalArgument("IMAGE", "Image files to trace.", "IMAGE...");

    if (!parser.parse(QCoreApplication::arguments())) return UsageError(parser.errorText());
    if (parser.isSet("help")) {
        std::cout << parser.helpText().toStdString();
        return 0;
    }
    if (parser.isSet(outputOption) && parser.value(outputOption).isEmpty()) return UsageError("-o needs a folder");
    const QStringList images = parser.positionalArguments();
    if (images.isEmpty()) return UsageError("no image given");
    for (const Switch& option : kSwitches) {
        if (parser.isSet(option.name) && parser.isSet(QString("no-") + option.name)) {
            return UsageError(QString("--%1 and --no-%1 contradict each other").arg(option.name));
        }
    }

    const MessageSink toStandardError = [](const std::string& text) { std::cerr << text << '\n'; };
    const MessageSink toStandardOutput = [](const std::string& text) { std::cout << text << std::endl; };
    const StatusSink status = [](std::string_view text) { std::cerr << text << '\n'; };

    std::unique_ptr<TVemo_sysF> settings =
        parser.isSet(systemOption) ? std::make_unique<TVemo_sysF>(parser.value(systemOption).toStdString(), toStandardError)
                                   : std::make_unique<TVemo_sysF>(toStandardError);
    if (settings->CheckSettingsFile() != 0) return kExitFailed;

    TraceOptions options = OptionsFromSettings(settings->GetSettings());
    for (const Switch& option : kSwitches) {
        if (parser.isSet(option.name)) options.*option.field = true;
        if (parser.isSet(QString("no-") + option.name)) options.*option.field = false;
    }
    if (parser.isSet(xRatioOption)) options.xRatioText = parser.value(xRatioOption).toStdString();
    if (parser.isSet(yRatioOption)) options.yRatioText = parser.value(yRatioOption).toStdString();

    TVemo_susieF susie(toStandardError);
    int exitStatus = 0;
    for (const QString& image : images) {
        const std::string imagePath = image.toStdString();
        const std::string folder =
            parser.isSet(outputOption) ? parser.value(outputOption).toStdString() : ImageFolder(imagePath);
        status(texts::kStatusLoading);
        TVemo_comp job(imagePath, folder, *settings, susie, toStandardError, status);
        job.SetCompletionSink(toStandardOutput);
        if (job.Run(options) != 0) exitStatus = kExitFailed;
        status(texts::kStatusFinished);
        if (!parser.isSet(keepOption)) RemoveIntermediateFiles(job.GetResult());
    }
    return exitStatus;
}
