#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <compare>

// One data line's way through a run: what the run plans for it, what every
// line of the run shares, and what became of it. The run, the check, the
// worker and the container writers all speak these types; none of them
// includes another's header for them.

// One tag slot's value for a line. TagSlots gives each slot's dataset,
// role and limit; the writer chooses the bytes.
struct TagValue {
    int slot = 0; // 1 to 23, or an XMP slot
    QString text;
    friend bool operator==(const TagValue &, const TagValue &) = default;
};

// What one line changes in an image's metadata.
struct TagEdit {
    QList<TagValue> values;   // slot order; slots without a value are left out
    bool unicodeData = false; // the data file was read in an encoding that needs UTF-8 in IPTC
};

// What can be said of a line. A code names the case; its details are the
// values it speaks of, in the order the code's comment gives. The window,
// the check and the command line word codes themselves (NoteText gives the
// usual words); tests compare codes.
enum class NoteCode {
    None,
    // The line is not read (Skipped).
    NoFileName,          //
    AbsoluteName,        //
    NameHoldsDotDot,     //
    NameHoldsControl,    // the character's code, as U+XXXX
    NameNotFileName,     // the name ends in a folder, "." or ".."
    TemporaryName,       // the name is one a run gives the temporaries it writes outputs into
    OutsideSaveFolder,   // why: a link or no folder on the way (the folder)
    OutputFolderMissing, // the folder below the save folder that does not exist
    WouldReplaceSource,  //
    OutputExists,        // the output was in the save folder before the run, which was told to skip such lines
    SidecarNameTaken,    // the row of the line whose output (a photo's copy or sidecar) has the name the sidecar needs
    SourceMissing,       //
    SourceNotAFile,      //
    SourceUnreadable,    // the system's reason
    AmbiguousName,       // the candidates
    UnknownType,         //
    TooManyPixels,       // megapixels declared, the limit, the page (1-based; 0 for a single image)
    // The line was tried and nothing was written (Failed).
    ReadFailed,          // the system's reason
    WriteFailed,         // the system's reason
    SaveFolderChanged,   // the save folder is no longer the one the run opened
    OutputInTheWay,      // what is in the way: "link", "folder", "special", "read-only"
    MetadataUnwritable,  // why the file's metadata could not be written
    BlockTooLarge,       // the block ("XMP", "IPTC"), its size, the container's limit
    ReencodeRefused,     // why, as the encoder would change the image (free text from the writer)
    ReencodeUnavailable, // the image library is not installed
    DecodeFailed,        //
    EncodeFailed,        //
    WorkerStopped,       // "signal" or "exit", its number
    WorkerTimedOut,      // seconds
    WorkerGarbled,       //
    WorkerUnavailable,   // why no worker could be started
    // Saved with warnings.
    ValueCut,            // field key, bytes before, bytes after
    ValueNotWritten,     // field key, the value (characters XML cannot hold as U+FFFD), the rule it breaks ("date", "time", "urgency", "country code", "length", "text XML can hold (it holds U+0001)")
    SourceDamaged,       // what is wrong
    NoImage,             // the file is a sound container of metadata alone, without image data
    XmpUnreadable,       // the image's XMP was left as it was; the IPTC was written
    WrittenWithoutTags,  // why: "unknown type", "damaged", or the format's name when it is not written yet
    FieldsWithoutHome,   // the format, then the field keys it has no place for
    ReplacedLine,        // the row of the earlier line whose output this one replaced
    ReplacedFile,        // an output that was in the save folder before the run
    SidecarNamedInFull,  // the sidecar's name, then the output (a photo's copy, or the photo whose sidecar) that has the name by the stem
    MetadataLost,        // what the output no longer holds (free text)
    FieldsLeftBlank,     // for each field that reads a column its line does not have: the field key, then those columns joined by ","
    ValueOutOfForm,      // an XMP field's key, the value, the rule it breaks ("web address", "e-mail address", "digital source type", "model release status", "property release status", "data mining")
    // New codes go above: the protocol takes a code below this one as a note.
    EndOfNoteCodes
};

struct Note {
    NoteCode code = NoteCode::None;
    QStringList details;

    explicit operator bool() const { return code != NoteCode::None; }
    friend bool operator==(const Note &, const Note &) = default;
};

enum class LineStatus { Saved, SavedWithWarnings, Failed, Skipped };

// What a note means for its line: Skipped, Failed, or SavedWithWarnings for a warning.
constexpr LineStatus StatusOf(NoteCode code)
{
    if (code < NoteCode::ReadFailed)
        return LineStatus::Skipped;
    return code < NoteCode::ValueCut ? LineStatus::Failed : LineStatus::SavedWithWarnings;
}

// What became of one line: for Failed and Skipped the first note is why;
// for SavedWithWarnings the notes are the warnings.
struct LineOutcome {
    LineStatus status = LineStatus::Failed;
    QList<Note> notes;

    static LineOutcome skipped(Note why) { return {LineStatus::Skipped, {std::move(why)}}; }
    static LineOutcome failed(Note why) { return {LineStatus::Failed, {std::move(why)}}; }
    // Skipped or failed, as the code of `why` says.
    static LineOutcome refused(Note why) { return {StatusOf(why.code), {std::move(why)}}; }
    // Saved, with warnings when there are any.
    static LineOutcome saved(QList<Note> warnings)
    {
        return {warnings.isEmpty() ? LineStatus::Saved : LineStatus::SavedWithWarnings, std::move(warnings)};
    }
    bool written() const { return status == LineStatus::Saved || status == LineStatus::SavedWithWarnings; }
};

// Where a line's tags go.
enum class TagPlace {
    IptcAndXmp, // in the file: JPEG, PNG, TIFF (DNG included), BigTIFF, PSD
    XmpOnly,    // in the file, which has no home for IPTC: WebP, GIF
    Sidecar,    // beside the file, in an XMP sidecar: camera raw files, HEIF
    Nowhere,    // copied without tags: other images, unknown files
};

// A file's identity on its device, to tell that two names reach one file.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    friend auto operator<=>(const FileIdentity &, const FileIdentity &) = default;
};

// How a run names its outputs.
enum class SaveOption {
    Replace,        // the output keeps the source's name
    AppendFileName, // appendText goes before the extension: img001.jpg -> img001IPTC.jpg
};

// How a data file's names find the files of the image folder.
enum class NameMatching {
    Exact, // the name as it stands, as file systems compare names
    Loose, // a name whose case or Unicode normalisation differs, or that lacks its extension, finds the one file it can mean
};

// How an XMP sidecar is named after its photo, IMG_0001.CR3.
enum class SidecarNaming {
    Stem,     // IMG_0001.xmp: Lightroom, Bridge, Camera Raw, Capture One, Photo Mechanic (the default)
    FullName, // IMG_0001.CR3.xmp: darktable, digiKam
};

// What the user chose for a run, and the run's deadlines.
struct BatchOptions {
    SaveOption saveOption = SaveOption::Replace;
    QString appendText;      // the main window's Text1
    bool reencode = false;   // decode and encode each image instead of writing its tags only
    int maxMegapixels = 200; // re-encoding refuses an image whose header declares more
    NameMatching matching = NameMatching::Loose;
    bool skipExisting = false; // a line whose output is in the save folder before the run is skipped
    SidecarNaming sidecarNaming = SidecarNaming::Stem;
    int workers = 0;         // worker processes at most; 0 for one per core
    int lineMs = 600000;     // a line still unanswered after this long fails, and its worker is stopped
    int graceMs = 2000;      // a worker told to end is killed when it is still there after this long
    int commitMs = 1000;     // written outputs wait at most this long to be put in place
};

// What every line of a run shares; a worker gets it once.
struct LineSettings {
    QString saveFolder;
    FileIdentity saveFolderIdentity; // the folder the run opened: a worker writes into no other
    bool reencode = false;
    bool unicodeData = false; // the data file was read in a Unicode encoding
    int maxMegapixels = 200;  // see BatchOptions
    int thumbnailLines = 0;   // a checked line up to this one brings a thumbnail of its image
};

// Everything about data line L that the run decides before its image is
// opened: what it reads, what it writes and which values.
struct LinePlan {
    int line = 0;           // the data line, 1-based
    int row = 0;            // the data file's row of that line
    QString name;           // the file-name slot's value
    QString source;         // the image folder joined with the name
    QString output;         // the output's path below the save folder, "/"-separated
    QString outputKey;      // the same for every spelling of one output ("./a.jpg", "sub//a.jpg")
    QString outputPath;     // the save folder joined with the output, for the user
    bool outputExists = false; // a file had the output's name when the line was planned
    // For a photo whose tags go beside it (camera raw files, HEIF): its
    // sidecar's path below the save folder, its key, whether a file had
    // its name, and the photo's own sidecar in the image folder, which the
    // new one builds on (empty when it has none). All empty for other photos.
    QString sidecar;
    QString sidecarKey;
    bool sidecarExists = false;
    QString sidecarSource;
    Note sidecarNote;       // said once the sidecar is written: why it is named in full
    Note blanks;            // said once the line is written: the fields left blank for want of a column
    QList<TagValue> values; // slot order; slots without a value are left out
    Note problem;           // why the line is skipped without reading its image
};

// A written line's output, waiting in its temporary to be put in place.
struct WrittenOutput {
    QByteArray temporary; // the temporary's name in the output's folder
    FileIdentity folder;  // the output's folder
    FileIdentity file;    // the temporary itself
    qint64 bytes = 0;
};
