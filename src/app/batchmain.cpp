#include "app/versiontext.h"
#include "engine/metadata/xmpsidecar.h"
#include "engine/platform/freeimagelayer.h"
#include "engine/run/batchcheck.h"
#include "engine/run/batchrunner.h"
#include "engine/run/notetext.h"
#include "engine/run/tagexporter.h"
#include "model/appstate.h"
#include "model/datafile.h"
#include "model/schemestore.h"
#include "model/settingsstore.h"
#include "model/tagslots.h"
#include "model/xmpfields.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

namespace {
enum ExitStatus { AllTagged = 0, SomeLinesFailed = 1, Refused = 2 };

const char *const HelpText =
    "Usage:\n"
    "  brindleway-batch --data FILE --images DIR --save DIR --scheme NAME\n"
    "                   [--append TEXT] [--reencode] [--max-megapixels N]\n"
    "                   [--encoding NAME] [--check] [--match exact|loose]\n"
    "                   [--sidecar-name lightroom|darktable] [--skip-existing]\n"
    "  brindleway-batch --export --images DIR --data FILE [--scheme NAME]\n"
    "                   [--encoding utf-8|windows-1252] [--all-fields] [--force]\n"
    "  brindleway-batch --list-schemes\n"
    "  brindleway-batch --help | --version\n"
    "\n"
    "Writes IPTC metadata into a batch of images, as Brindleway's \"Batch tag\" does.\n"
    "For every data line of FILE (a tab-delimited IPTC data file whose first line is\n"
    "a header), the image the line names is read from DIR given by --images, tagged\n"
    "with the values the parsing scheme NAME gives for that line, and saved under the\n"
    "same name in the folder given by --save.\n"
    "\n"
    "Options:\n"
    "  --data FILE       the IPTC data file\n"
    "  --images DIR      the folder of the source images\n"
    "  --save DIR        the folder that receives the tagged images; it must exist\n"
    "                    (it is not created) and differ from the image folder\n"
    "  --scheme NAME     the first stored parsing scheme of exactly this name\n"
    "  --append TEXT     save img001.jpg as img001TEXT.jpg instead of img001.jpg\n"
    "  --reencode        decode each image and encode it again with its tags\n"
    "                    (JPEGs at the highest quality; this needs the FreeImage\n"
    "                    library) instead of the default, which writes tags only:\n"
    "                    each output is then its source byte for byte with only\n"
    "                    the metadata changed (JPEG, TIFF, DNG, PNG and PSD get\n"
    "                    IPTC and XMP, WebP and GIF XMP; a camera raw file or\n"
    "                    HEIC is copied as it is with an XMP sidecar beside it;\n"
    "                    other types get a plain copy). Re-encoding covers JPEG,\n"
    "                    TIFF and PNG; other types are written as in tags only\n"
    "  --lossless        the default, tags only; kept for earlier scripts\n"
    "  --max-megapixels N  with --reencode, skip an image whose header declares\n"
    "                    more than N million pixels, before decoding it (default\n"
    "                    200)\n"
    "  --encoding NAME   read FILE as utf-8, utf-16, windows-1252, windows-1250,\n"
    "                    windows-1251, windows-1253, windows-1254 or windows-1257\n"
    "                    instead of the encoding its bytes show (automatic, the\n"
    "                    default)\n"
    "  --match HOW       how a data file's names find their images: loose (the\n"
    "                    default) lets img_0001.jpg find IMG_0001.JPG, a name\n"
    "                    find the file whatever its Unicode normalisation, and\n"
    "                    IMG_0001 find IMG_0001.CR3 when exactly one file fits; a\n"
    "                    name that fits several files is skipped and they are\n"
    "                    listed; exact takes each name as it stands. Outputs are\n"
    "                    named after the file found\n"
    "  --sidecar-name STYLE  how the XMP sidecar of a camera raw file or HEIC is\n"
    "                    named: lightroom (IMG_0001.xmp, the default, as Lightroom,\n"
    "                    Bridge and Capture One name it) or darktable\n"
    "                    (IMG_0001.CR3.xmp, as darktable and digiKam do). Where\n"
    "                    two photos of a run share a stem (IMG_0001.CR3 and\n"
    "                    IMG_0001.HEIC), or a copy has the stem's sidecar name,\n"
    "                    the raw file keeps IMG_0001.xmp and the other photo's\n"
    "                    sidecar takes its full name, with a warning\n"
    "  --skip-existing   skip a line whose output is already in the save folder,\n"
    "                    leaving that file as it is, so that running a batch\n"
    "                    again does only what is new; a camera raw file or HEIC\n"
    "                    goes by its photo, not its sidecar\n"
    "  --check           write nothing: print what the run would do, one line per\n"
    "                    data line (see Checking below)\n"
    "  --export          read the tags of the images in DIR into a new data file\n"
    "                    FILE and store a scheme that tags them again from it\n"
    "                    (see Exporting below)\n"
    "  --all-fields      with --export, a column for every field, even those no\n"
    "                    image holds\n"
    "  --force           with --export, replace FILE and a scheme named NAME\n"
    "  --list-schemes    print the stored scheme names, one a line, in store order;\n"
    "                    exit 1 when the store holds anything not understood (named\n"
    "                    on standard error), 2 when it cannot be read\n"
    "  -h, --help        print this text\n"
    "  --version         print the program's name, version, copyright and licence\n"
    "\n"
    "Schemes come from the same per-user store as the Brindleway window\n"
    "(Brindleway/Brindleway.ini under $XDG_CONFIG_HOME, by default ~/.config).\n"
    "\n"
    "Progress goes to standard error when it is a terminal. Standard output gets a\n"
    "summary: lines, lines saved, files written (lines that write one output count\n"
    "it once), lines skipped, failed and saved with warnings; then each line that\n"
    "was not saved in full, by its row in the data file (the header is row 1), its\n"
    "file name and the reason. Replacing a file that was in the save folder, or the\n"
    "output of an earlier line, is a warning.\n"
    "\n"
    "Checking: with --check nothing is written and only the headers of each image\n"
    "are read. Standard output gets only a tab-separated table with a header\n"
    "line: a mark (\"ok\" or \"PROBLEM\"), the data file's row, the data line, the\n"
    "source, the output, what the run will report for the line joined by \"; \",\n"
    "where its tags will go (\"IPTC and XMP\", \"XMP only\", \"XMP sidecar\" or\n"
    "\"no tags\"; empty when it will not be written), then each field's value as\n"
    "KEY=VALUE. A line is marked when the run would\n"
    "skip it, fail it or save it with a warning: a missing source or one that is\n"
    "no image of a known type, a refused name (a control character, \"..\", an\n"
    "absolute path), an output that would replace a file or another line's\n"
    "output, a value the writer will cut or leave out. The count of lines and of\n"
    "marked lines goes to standard error. Exit status 0 when no line is marked,\n"
    "1 when any is, 2 when the run would be refused.\n"
    "\n"
    "Exporting: with --export nothing is written into the images. FILE gets a\n"
    "header line, then one line per image of a type Brindleway tags in the folder\n"
    "(not its subfolders; a camera raw file or HEIC only with an XMP sidecar,\n"
    "IMG_0001.CR3.xmp or IMG_0001.xmp, whose tags are read for it), in name\n"
    "order: the file name, then one column for each\n"
    "field some image holds, headed as the window names the field. Where a file\n"
    "holds IPTC and XMP, a field the XMP holds is taken from the XMP, as the\n"
    "Metadata Working Group's guidelines say, unless the file's IPTC digest shows\n"
    "that the IPTC changed after the XMP was written: then the IPTC is taken. Lists\n"
    "are joined with \";\"; a value holding a TAB, a line break or a double quote\n"
    "is quoted as spreadsheets quote it. FILE is UTF-8 with a byte-order mark and\n"
    "CR LF line ends; --encoding windows-1252 writes Windows-1252 and refuses\n"
    "values it cannot hold, naming each (50 at most, then a count of the rest).\n"
    "The scheme NAME (by default the first free of\n"
    "\"Exported\", \"Exported 2\"...) reads each field from its column and the file\n"
    "name from column 1, so that a run with FILE and NAME writes the same values\n"
    "back. An existing FILE or a taken NAME is refused unless --force is given;\n"
    "FILE is never put in place of an image. Standard output gets the counts:\n"
    "images, images exported, unreadable, files left out, with warnings, columns,\n"
    "the data file and the scheme. Standard error lists each image that could not\n"
    "be read (\"Unreadable NAME: reason\"), each value that will not come back\n"
    "exactly or that a spreadsheet would take as a formula (\"Warning NAME: ...\"):\n"
    "IPTC and XMP that differ, several values in a field of one, a value over its\n"
    "IPTC limit, a value that starts with =, +, - or @ and is no number (open FILE\n"
    "with every column as text, and it stays as it is); and each other file of\n"
    "the folder, which is left out (\"Left out NAME: reason\"): no image of a type\n"
    "Brindleway reads, a camera raw file or HEIC without a sidecar, a run's\n"
    "temporary. Exit status 0 when every file was read and no warning given, 1\n"
    "when any image could not be read, any file was left out or any warning was\n"
    "given, 2 when the export was refused (a missing or\n"
    "unreadable folder, no image to read, a data file that cannot be written or\n"
    "exists, a taken scheme name) or its data file or scheme could not be\n"
    "written.\n"
    "\n"
    "Exit status: 0 when every data line was tagged and saved in full, 1 when any\n"
    "line was skipped, failed or saved with a warning, 2 when the run was refused\n"
    "before any line (no data lines, the same folder twice, an image folder or a\n"
    "save folder that is missing, not a folder or not readable, an unknown scheme,\n"
    "an unreadable data file or scheme store, no worker process, bad arguments).\n"
    "\n"
    "Files:\n"
    "  ~/.config/Brindleway/Brindleway.ini\n"
    "                    the parsing schemes, shared with the window; under\n"
    "                    $XDG_CONFIG_HOME/Brindleway when that is set\n"
    "  ~/.config/Brindleway/Brindleway.ini.bak\n"
    "                    the store as it was before an export last changed it\n"
    "\n"
    "Examples:\n"
    "  Tag the photos in shoot/ from captions.txt with the scheme Press:\n"
    "    brindleway-batch --data captions.txt --images shoot --save tagged \\\n"
    "      --scheme Press\n"
    "  See first what that run would do, writing nothing:\n"
    "    brindleway-batch --check --data captions.txt --images shoot \\\n"
    "      --save tagged --scheme Press\n"
    "  Read the tags of shoot/ into shoot.txt and a scheme that writes them again:\n"
    "    brindleway-batch --export --images shoot --data shoot.txt\n";

// A one-line bar on a terminal, nothing otherwise.
class TerminalProgress {
public:
    TerminalProgress() : enabled(::isatty(STDERR_FILENO) == 1) {}
    void show(int done, int lines)
    {
        if (!enabled || lines <= 0)
            return;
        constexpr int width = 40;
        const int filled = int(qint64(width) * done / lines);
        std::fprintf(stderr, "\r[%s%s] %d/%d", QByteArray(filled, '#').constData(),
                     QByteArray(width - filled, ' ').constData(), done, lines);
        std::fflush(stderr);
        shown = true;
    }
    void end()
    {
        if (shown)
            std::fputs("\n", stderr);
        shown = false;
    }

private:
    bool enabled;
    bool shown = false;
};

int refuse(const QString &message)
{
    QTextStream(stderr) << "brindleway-batch: " << message << '\n';
    return Refused;
}

int printResult(const BatchResult &result)
{
    QTextStream out(stdout);
    out << "Lines: " << result.lines << '\n'
        << "Saved: " << result.saved() << '\n'
        << "Files: " << result.files << '\n'
        << "Skipped: " << result.count(LineStatus::Skipped) << '\n'
        << "Failed: " << result.count(LineStatus::Failed) << '\n'
        << "Warnings: " << result.count(LineStatus::SavedWithWarnings) << '\n';
    for (const auto &[status, heading] : {std::pair{LineStatus::Skipped, "Skipped"}, {LineStatus::Failed, "Failed"},
                                          {LineStatus::SavedWithWarnings, "Warning"}}) {
        for (const LineReport &report : result.with(status))
            out << heading << " row " << report.row << ", " << report.name << ": " << NotesText(report.outcome.notes) << '\n';
    }
    return result.allTaggedAndSaved() ? AllTagged : SomeLinesFailed;
}

// One line per data line, tab-separated, so that it reads in a terminal and
// cuts with cut(1).
int printCheck(const BatchCheck &check)
{
    QTextStream out(stdout);
    out << "Mark\tRow\tLine\tSource\tOutput\tProblems\tTags\tValues\n";
    for (const CheckedLine &line : check.lines) {
        QStringList values;
        for (const TagValue &value : line.plan.values)
            values << SlotKey(value.slot) + QLatin1Char('=') + value.text;
        out << (line.notes.isEmpty() ? "ok" : "PROBLEM") << '\t' << line.row() << '\t' << line.plan.line << '\t'
            << line.plan.source << '\t' << line.plan.outputPath << '\t' << NotesText(line.notes, Tense::Future) << '\t'
            << (line.place ? TagPlaceText(*line.place) : QString()) << '\t' << values.join(QLatin1Char('\t')) << '\n';
    }
    // The count stays out of the table, so that the table imports as it is.
    QTextStream(stderr) << "Lines: " << check.lines.size() << ", with problems: " << check.problemLines() << '\n';
    return check.problemLines() == 0 ? AllTagged : SomeLinesFailed;
}

// Every image not read, every value that will not come back exactly, and
// every file left out, on standard error; the counts on standard output.
int printExport(const ExportResult &result)
{
    QTextStream errors(stderr);
    for (const ExportedImage &image : result.images) {
        if (image.tags.failure) {
            errors << "Unreadable " << image.name << ": " << NoteText(image.tags.failure) << '\n';
            continue;
        }
        for (const TagReadNote &note : image.tags.notes)
            errors << "Warning " << image.name << ": " << TagReadNoteText(note) << '\n';
    }
    for (const LeftOutFile &file : result.leftOut)
        errors << "Left out " << file.name << ": " << NoteText(file.why) << '\n';
    errors.flush();
    if (!result.written())
        return refuse(result.problem.text());
    QTextStream(stdout) << "Images: " << result.images.size() << '\n'
                        << "Exported: " << result.images.size() - result.unreadable() << '\n'
                        << "Unreadable: " << result.unreadable() << '\n'
                        << "Left out: " << result.leftOut.size() << '\n'
                        << "Warnings: " << result.noted() << '\n'
                        << "Columns: " << result.columns << '\n'
                        << "Data file: " << QDir::toNativeSeparators(result.dataFile) << '\n'
                        << "Scheme: " << result.schemeName << '\n';
    return result.unreadable() + result.noted() + result.leftOut.size() == 0 ? AllTagged : SomeLinesFailed;
}

// brindleway-batch --export: the options it shares with a run are looked up by name.
// Loads the stored schemes into `table`; why the store cannot be read, empty when it can.
QString loadSchemeStore(SchemeTable &table, const SettingsStore &store)
{
    const SchemeStoreReport report = LoadSchemes(table, store);
    if (report.readError.isEmpty())
        return {};
    return QStringLiteral("cannot read the scheme store %1: %2").arg(QDir::toNativeSeparators(store.location()), report.readError);
}

int runExport(const QCommandLineParser &parser)
{
    for (const char *other : {"save", "append", "reencode", "lossless", "max-megapixels", "check", "match", "sidecar-name", "skip-existing"}) {
        if (parser.isSet(QLatin1String(other)))
            return refuse(QStringLiteral("--%1 does not go with --export (see --help)").arg(QLatin1String(other)));
    }
    for (const char *required : {"images", "data"}) {
        if (!parser.isSet(QLatin1String(required)))
            return refuse(QStringLiteral("--%1 is missing (see --help)").arg(QLatin1String(required)));
    }
    ExportRequest request;
    request.imageFolder = parser.value(QStringLiteral("images"));
    request.dataFile = parser.value(QStringLiteral("data"));
    request.allFields = parser.isSet(QStringLiteral("all-fields"));
    request.replace = parser.isSet(QStringLiteral("force"));
    if (parser.isSet(QStringLiteral("scheme"))) {
        request.schemeName = parser.value(QStringLiteral("scheme"));
        if (request.schemeName.isEmpty())
            return refuse(QStringLiteral("--scheme needs a name (see --help)"));
    }
    if (parser.isSet(QStringLiteral("encoding"))) {
        const auto chosen = EncodingChoiceNamed(parser.value(QStringLiteral("encoding")));
        if (!chosen || (chosen->forced != TextEncoding::Utf8 && chosen->forced != TextEncoding::Windows1252))
            return refuse(QStringLiteral("--export writes utf-8 or windows-1252, not %1 (see --help)")
                              .arg(parser.value(QStringLiteral("encoding"))));
        request.format.encoding = *chosen->forced;
    }
    SchemeTable schemes;
    IniSettingsStore store;
    if (const QString why = loadSchemeStore(schemes, store); !why.isEmpty())
        return refuse(why);
    TagExporter exporter;
    TerminalProgress progress;
    QObject::connect(&exporter, &TagExporter::progress, &exporter, [&progress](int done, int images) { progress.show(done, images); });
    QObject::connect(&exporter, &TagExporter::finished, &exporter, [&progress](const ExportResult &result) {
        progress.end();
        QCoreApplication::exit(printExport(result));
    });
    if (const Problem refusal = exporter.start(request, schemes, store)) {
        const bool forceHelps = refusal.kind() == Problem::Kind::FileExists;
        return refuse(refusal.text() + (forceHelps ? QStringLiteral(" (--force replaces it)") : QString()));
    }
    return QCoreApplication::exec();
}

int listSchemes()
{
    SchemeTable table;
    const IniSettingsStore store;
    const SchemeStoreReport report = LoadSchemes(table, store);
    QTextStream out(stdout);
    for (int n = 1; n <= table.SchemeCount; ++n)
        out << table.Schemes[n].Name << '\n';
    if (report.clean())
        return AllTagged;
    QTextStream(stderr) << "brindleway-batch: " << SchemeStoreReportText(report, store.location(), 20) << '\n';
    return report.readError.isEmpty() ? SomeLinesFailed : Refused;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption data(QStringLiteral("data"), {}, QStringLiteral("FILE"));
    const QCommandLineOption images(QStringLiteral("images"), {}, QStringLiteral("DIR"));
    const QCommandLineOption save(QStringLiteral("save"), {}, QStringLiteral("DIR"));
    const QCommandLineOption scheme(QStringLiteral("scheme"), {}, QStringLiteral("NAME"));
    const QCommandLineOption append(QStringLiteral("append"), {}, QStringLiteral("TEXT"));
    const QCommandLineOption lossless(QStringLiteral("lossless"));
    const QCommandLineOption reencode(QStringLiteral("reencode"));
    const QCommandLineOption encoding(QStringLiteral("encoding"), {}, QStringLiteral("NAME"));
    const QCommandLineOption megapixels(QStringLiteral("max-megapixels"), {}, QStringLiteral("N"));
    const QCommandLineOption checkOnly(QStringLiteral("check"));
    const QCommandLineOption match(QStringLiteral("match"), {}, QStringLiteral("HOW"));
    const QCommandLineOption sidecarName(QStringLiteral("sidecar-name"), {}, QStringLiteral("STYLE"));
    const QCommandLineOption skipExisting(QStringLiteral("skip-existing"));
    const QCommandLineOption list(QStringLiteral("list-schemes"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions(
        {data, images, save, scheme, append, lossless, reencode, encoding, megapixels, checkOnly, match, sidecarName, skipExisting, list,
         help, version});
    const QCommandLineOption exportTags(QStringLiteral("export"));
    const QCommandLineOption exportOnly[]{QCommandLineOption(QStringLiteral("all-fields")), QCommandLineOption(QStringLiteral("force"))};
    parser.addOptions({exportTags, exportOnly[0], exportOnly[1]});
    if (!parser.parse(application.arguments()))
        return refuse(parser.errorText() + QStringLiteral(" (see --help)"));
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument %1 (see --help)").arg(parser.positionalArguments().first()));
    if (parser.isSet(help)) {
        std::fputs(HelpText, stdout);
        return AllTagged;
    }
    if (parser.isSet(version)) {
        PrintVersion("brindleway-batch");
        return AllTagged;
    }
    if (parser.isSet(list))
        return listSchemes();
    if (parser.isSet(exportTags))
        return runExport(parser);
    for (const QCommandLineOption &option : exportOnly) {
        if (parser.isSet(option))
            return refuse(QStringLiteral("--%1 goes only with --export (see --help)").arg(option.names().first()));
    }
    for (const QCommandLineOption *required : {&data, &images, &save, &scheme}) {
        if (!parser.isSet(*required))
            return refuse(QStringLiteral("--%1 is missing (see --help)").arg(required->names().first()));
    }
    const std::optional<EncodingChoice> chosen = EncodingChoiceNamed(parser.value(encoding));
    if (parser.isSet(encoding) && !chosen)
        return refuse(QStringLiteral("unknown encoding %1 (see --help)").arg(parser.value(encoding)));

    AppState app;
    InitIptcTagKeys(app.IptcTagKeys);
    const IniSettingsStore store;
    if (const QString why = loadSchemeStore(app.Schemes, store); !why.isEmpty())
        return refuse(why);
    const QString schemeName = parser.value(scheme);
    app.SelectedScheme = SchemeNamed(app.Schemes, schemeName) - 1;
    if (app.SelectedScheme < 0)
        return refuse(QStringLiteral("no stored parsing scheme is named \"%1\" (see --list-schemes)").arg(schemeName));

    const DataFileResult loaded = LoadDataFile(parser.value(data), app.Data, chosen ? chosen->forced : std::nullopt);
    if (!loaded.loaded())
        return refuse(QStringLiteral("cannot read data file %1: %2")
                          .arg(QDir::toNativeSeparators(parser.value(data)), loaded.problem.text()));
    app.ImagePath = parser.value(images);
    app.SavePath = parser.value(save);

    BatchOptions options;
    if (parser.isSet(append)) {
        options.saveOption = SaveOption::AppendFileName;
        options.appendText = parser.value(append);
    }
    if (parser.isSet(lossless) && parser.isSet(reencode))
        return refuse(QStringLiteral("--lossless and --reencode exclude each other (see --help)"));
    options.reencode = parser.isSet(reencode);
    options.skipExisting = parser.isSet(skipExisting);
    if (options.reencode && !ReencodingAvailable())
        return refuse(ReencodingUnavailableMessage);
    if (parser.isSet(megapixels)) {
        bool number = false;
        options.maxMegapixels = parser.value(megapixels).toInt(&number);
        if (!number || options.maxMegapixels < 1)
            return refuse(QStringLiteral("--max-megapixels needs a whole number of at least 1 (see --help)"));
    }

    if (parser.isSet(match)) {
        if (parser.value(match) != QLatin1String("exact") && parser.value(match) != QLatin1String("loose"))
            return refuse(QStringLiteral("--match is exact or loose (see --help)"));
        options.matching = parser.value(match) == QLatin1String("exact") ? NameMatching::Exact : NameMatching::Loose;
    }
    if (parser.isSet(sidecarName)) {
        const std::optional<SidecarNaming> naming = SidecarNamingFrom(parser.value(sidecarName));
        if (!naming)
            return refuse(QStringLiteral("--sidecar-name is lightroom or darktable (see --help)"));
        options.sidecarNaming = *naming;
    }

    if (parser.isSet(checkOnly)) {
        const BatchCheck check = CheckBatch(app, options);
        return check.refused() ? refuse(check.refusal.text()) : printCheck(check);
    }
    BatchRunner runner;
    TerminalProgress progress;
    QObject::connect(&runner, &BatchRunner::progress, &runner, [&progress](int done, int lines) { progress.show(done, lines); });
    QObject::connect(&runner, &BatchRunner::finished, &runner, [&progress](const BatchResult &result) {
        progress.end();
        QCoreApplication::exit(result.refused() ? refuse(result.refusal.text()) : printResult(result));
    });
    if (const Problem refusal = runner.start(app, options))
        return refuse(refusal.text());
    return QCoreApplication::exec();
}
