#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Everything the program says to its user, in French, in one place: the
// command line, both windows and every error say the same thing the same way.
// The captions of the window's controls are part of the form's description
// (ui/form_layout).
namespace ostrevane::messages {

// What the program was doing with a file when it failed; each has its verb.
enum class FileAction { Open, Read, Create, Write, Replace, Convert, Use };

// "Impossible d'ouvrir le fichier « trajet.nmea » : fichier ou dossier
// introuvable." The one shape of every file failure, its verb taken from
// `action`; `cause` is Cause(error) or one of the causes below.
std::string FileFailure(FileAction action, std::string_view path, std::string_view cause);

// The cause of a failure, from an errno value (ENOENT, EACCES...): always in
// words, never a bare number.
std::string Cause(int error);
// The cause when a file's folder refuses a new file: that folder, named, is
// what the user must change. `folder` is "" for the current folder.
std::string FolderRefusesFiles(std::string_view folder, int error);
// The cause when the file system of a KML file keeps no permissions, and the
// new file would let others read what the earlier one kept to its owner.
std::string PermissionsNotKept(int error);
// The cause when a program asks for a file number it never opened.
inline constexpr std::string_view kBadFileNumber = "num\u00E9ro de fichier incorrect";
// The cause when the window's file dialog lost the bytes of a chosen name
// that is not UTF-8, and no single file answers to what it kept.
inline constexpr std::string_view kNameLostByDialog =
    "son nom n'est pas en UTF-8 et la fen\u00EAtre de choix ne peut pas le rendre tel quel ; "
    "d\u00E9posez le fichier sur la fen\u00EAtre, ou renommez-le";

// The cause when the window is given a named pipe: waiting for its writer
// would freeze the window, while the command line reads it as it comes.
inline constexpr std::string_view kFifoRefused =
    "c'est un tube nomm\u00E9, que la fen\u00EAtre ne lit pas ; lisez-le avec "
    "ostrevane-convert (ou ostrevane-convert --suivre pour suivre le trajet)";

// A file's name between French quotes, as every message shows it. Control
// characters (a newline in a name...) are shown escaped, as \n or \x1B, so
// that a message stays one line and shows what the name holds.
std::string QuotedName(std::string_view name);

// Why a log given by name, where no dialog filtered it, is not converted.
std::string RefusedName(std::string_view name);
// The window converts one log at a time: the names given after the first
// (`ostrevane a.nmea b.nmea`) are not converted, and the window says so.
std::string ExtraNamesNotConverted(const std::vector<std::string>& names);
// A log converted without a single position; the corrupt sentences set
// aside in it, when there were any, are said in the same message.
std::string EmptyTrack(std::string_view name, std::uint64_t corruptSentences = 0);
// "« trajet.nmea » : 3 phrases corrompues ignorées (somme de contrôle
// fausse)." RMC sentences whose checksum is wrong, set aside in a log that
// still gave a track.
std::string CorruptSentences(std::string_view name, std::uint64_t count);
// The desktop has no application for the KML file that the globe hands it:
// says what to install or associate, and where the file is. On a desktop
// that xdg-utils doesn't know (openbox...), it types files with `mimetype`
// where that is installed, else with `file`, which calls KML plain XML: a
// viewer installed for KML is then never asked, so both are named.
std::string NoViewer(std::string_view kmlPath);
// The desktop could not open the KML file's folder for the folder line.
std::string NoFolderViewer(std::string_view folder);
// The desktop's own opener (xdg-open) is missing, so neither the KML file
// nor its folder can be opened; `path` is the one that was asked for.
std::string NoOpener(std::string_view path);

// The titles of the window's boxes: a failed conversion, something worth
// knowing about one that succeeded, and the globe's own report.
inline constexpr std::string_view kErrorTitle = "Conversion impossible";
inline constexpr std::string_view kNoticeTitle = "Conversion termin\u00E9e";
inline constexpr std::string_view kNoViewerTitle = "Ouvrir le fichier .kml";
inline constexpr std::string_view kNoFolderViewerTitle =
    "Ouvrir le r\u00E9pertoire du fichier .kml";
// The open-file dialog's one entry: its description, then its pattern.
inline constexpr std::string_view kLogDialogFilter = "Fichier nmea|*.nmea";

// What a screen reader says of the window's controls: the two actions
// offered at the end of a run, the count, and the end of a run, said once
// without taking the keyboard. Counts are the run's line counts, as the
// window shows them.
inline constexpr std::string_view kOpenKmlFileName =
    "Ouvrir le fichier .kml avec l'application associ\u00E9e";
inline constexpr std::string_view kOpenKmlFolderName = "Ouvrir le r\u00E9pertoire du fichier .kml";
std::string CountName(std::int64_t lineCount);
std::string RunFinishedStatus(std::int64_t lineCount);
// The action that a screen reader offers on the native Windows window's
// buttons, in the words Windows uses for its own.
inline constexpr std::string_view kPressAction = "Appuyer";

// Following a log while it is written (ostrevane-convert --suivre). The log
// was truncated or replaced by a new file of its name, and is converted
// afresh; it was removed or renamed away; it is not there yet.
std::string FollowRestarted(std::string_view name);
std::string FollowLogGone(std::string_view name);
std::string FollowLogAwaited(std::string_view name);
// Another follower writes the KML file of `name` already: two would write
// over each other's.
std::string FollowAlreadyFollowed(std::string_view name, std::string_view kmlPath);
// The system doesn't tell of the log's changes (no notification left, or a
// network or FUSE file system): it is looked at once per interval instead.
std::string FollowPolling(std::string_view name);
// Following ended before the log ever appeared: no KML file was written.
std::string FollowNothingWritten(std::string_view name);
// Said once, after the paths of the KML file and of its companion: which of
// them to open in a globe viewer, and how following ends.
std::string FollowOpenInViewer(std::string_view companionPath);
// --intervalle took something other than a number of seconds of at least 0.1.
std::string BadInterval(std::string_view text);
inline constexpr std::string_view kIntervalWithoutFollowing =
    "--intervalle ne sert qu'avec --suivre";

// The command line's own words. Each message goes out after the program's
// name and " : ".
std::string_view Usage();
std::string UnknownOption(std::string_view option);
inline constexpr std::string_view kNothingToConvert = "aucun fichier \u00E0 convertir";
std::string StandardOutputFailure(int error);
// "ostrevane-convert : <message>"
std::string FromProgram(std::string_view program, std::string_view message);

// The window program started where no graphical display can be reached.
inline constexpr std::string_view kNoDisplay =
    "ostrevane : aucun affichage graphique disponible (lancez le programme dans une "
    "session graphique, ou v\u00E9rifiez DISPLAY / WAYLAND_DISPLAY)";

}  // namespace ostrevane::messages
