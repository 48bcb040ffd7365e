#include "messages/messages.h"

#include <cerrno>

namespace ostrevane::messages {
namespace {

struct Verb {
  FileAction action;
  std::string_view words;
};

// "Impossible <verb> le fichier...", one verb for each action.
constexpr Verb kVerbs[] = {
    {FileAction::Open, "d'ouvrir"},        {FileAction::Read, "de lire"},
    {FileAction::Create, "de cr\u00E9er"}, {FileAction::Write, "d'\u00E9crire"},
    {FileAction::Replace, "de remplacer"}, {FileAction::Convert, "de convertir"},
    {FileAction::Use, "d'utiliser"},
};

std::string_view VerbOf(FileAction action) {
  for (const Verb& verb : kVerbs)
    if (verb.action == action) return verb.words;
  return "d'utiliser";
}

struct CauseWords {
  int error;
  std::string_view words;
};

// The causes in words, a row for each number; where two numbers mean the
// same to the user, they share the words. A number missing here is an
// unexpected error.
constexpr CauseWords kCauses[] = {
    {ENOENT, "fichier ou dossier introuvable"},
    {EACCES, "acc\u00E8s refus\u00E9"},
    {EPERM, "acc\u00E8s refus\u00E9"},
    {ENOSPC, "disque plein"},
#ifdef EDQUOT
    {EDQUOT, "quota de disque d\u00E9pass\u00E9"},
#endif
    {EISDIR, "c'est un dossier"},
    {ENOTDIR, "un \u00E9l\u00E9ment du chemin n'est pas un dossier"},
    {EROFS, "support en lecture seule"},
    {EIO, "erreur d'entr\u00E9e-sortie"},
    {ENAMETOOLONG, "nom trop long"},
    {EMFILE, "trop de fichiers ouverts"},
    {ENFILE, "trop de fichiers ouverts"},
    // What a socket or a device without its hardware gives.
    {EINVAL, "ce n'est pas un fichier ordinaire"},
    {ENXIO, "ce n'est pas un fichier ordinaire"},
    {ENODEV, "ce n'est pas un fichier ordinaire"},
    {EBUSY, "fichier d\u00E9j\u00E0 ouvert"},
    {ETXTBSY, "fichier utilis\u00E9 par un autre programme"},
    {ELOOP, "trop de liens symboliques"},
    {EFBIG, "fichier trop grand"},
    {EAGAIN, "ressource momentan\u00E9ment indisponible"},
    {EEXIST, "le fichier existe d\u00E9j\u00E0"},
    {ENOMEM, "m\u00E9moire insuffisante"},
    {EINTR, "op\u00E9ration interrompue"},
    {EPIPE, "le lecteur a ferm\u00E9 le tube"},
    {ESPIPE, "ce fichier ne se lit pas de cette fa\u00E7on"},
    {EBADF, "ce fichier ne se lit pas de cette fa\u00E7on"},
#ifdef EOVERFLOW
    {EOVERFLOW, "fichier trop grand pour ce syst\u00E8me"},
#endif
    {EXDEV, "les deux fichiers sont sur des supports diff\u00E9rents"},
    {EMLINK, "trop de liens vers ce fichier"},
    {ENOSYS, "op\u00E9ration non prise en charge par ce syst\u00E8me de fichiers"},
#ifdef EOPNOTSUPP
    {EOPNOTSUPP, "op\u00E9ration non prise en charge par ce syst\u00E8me de fichiers"},
#endif
#ifdef ENOTSUP
    {ENOTSUP, "op\u00E9ration non prise en charge par ce syst\u00E8me de fichiers"},
#endif
#ifdef ETIMEDOUT
    {ETIMEDOUT, "d\u00E9lai d\u00E9pass\u00E9"},
#endif
#ifdef ESTALE
    {ESTALE, "fichier r\u00E9seau devenu inaccessible"},
#endif
    {EILSEQ, "nom de fichier incorrect"},
};

std::string FolderName(std::string_view folder) {
  return folder.empty() ? "le dossier courant" : "le dossier " + QuotedName(folder);
}

// "3 phrases corrompues ignorées (somme de contrôle fausse)", "1 phrase..."
std::string CorruptCount(std::uint64_t count) {
  const bool plural = count > 1;
  return std::to_string(count) +
         (plural ? " phrases corrompues ignor\u00E9es" : " phrase corrompue ignor\u00E9e") +
         " (somme de contr\u00F4le fausse)";
}

}  // namespace

std::string FileFailure(FileAction action, std::string_view path, std::string_view cause) {
  std::string sentence = "Impossible ";
  sentence += VerbOf(action);
  sentence += " le fichier " + QuotedName(path) + " : ";
  sentence += cause;
  sentence += '.';
  return sentence;
}

std::string FolderRefusesFiles(std::string_view folder, int error) {
  return "impossible d'\u00E9crire dans " + FolderName(folder) + " (" + Cause(error) + ")";
}

std::string PermissionsNotKept(int error) {
  return "ce syst\u00E8me de fichiers ne garde pas les droits d'acc\u00E8s, et le nouveau "
         "fichier serait lisible par d'autres que le fichier existant (" +
         Cause(error) + ")";
}

std::string Cause(int error) {
  for (const CauseWords& cause : kCauses)
    if (cause.error == error) return std::string(cause.words);
  return "erreur inattendue du syst\u00E8me";
}

std::string QuotedName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string quoted = "\u00AB\u00A0";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      quoted += c;
    } else if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\r') {
      quoted += "\\r";
    } else if (c == '\t') {
      quoted += "\\t";
    } else {
      quoted += "\\x";
      quoted += kHex[byte >> 4];
      quoted += kHex[byte & 0xF];
    }
  }
  quoted += "\u00A0\u00BB";
  return quoted;
}

std::string RefusedName(std::string_view name) {
  return QuotedName(name) + " n'est pas un journal NMEA : son nom doit finir par " +
         QuotedName(".nmea") + ".";
}

std::string ExtraNamesNotConverted(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) {
    if (!list.empty()) list += ", ";
    list += QuotedName(name);
  }
  return "La fen\u00EAtre convertit un seul fichier \u00E0 la fois, le premier nomm\u00E9 ; " +
         std::string(names.size() > 1 ? "ceux-ci ne sont pas convertis : "
                                      : "celui-ci n'est pas converti : ") +
         list + ". Pour en convertir plusieurs : ostrevane-convert.";
}

std::string EmptyTrack(std::string_view name, std::uint64_t corruptSentences) {
  std::string message =
      QuotedName(name) + " ne contient aucune position valide : le trajet est vide.";
  if (corruptSentences > 0) {
    // Appended piece by piece: " " + a temporary makes GCC 12 warn falsely.
    message += ' ';
    message += CorruptCount(corruptSentences);
    message += '.';
  }
  return message;
}

std::string CorruptSentences(std::string_view name, std::uint64_t count) {
  return QuotedName(name) + " : " + CorruptCount(count) + ".";
}

std::string NoViewer(std::string_view kmlPath) {
  return "Aucune application n'est install\u00E9e pour ouvrir les fichiers .kml.\n\n"
         "Installez un globe virtuel et l'outil mimetype, sans lequel xdg-open prend "
         "les fichiers .kml pour du XML sur certains bureaux, comme openbox (sous "
         "Debian, les paquets marble et libfile-mimeinfo-perl), ou associez les "
         "fichiers .kml \u00E0 une application install\u00E9e (xdg-mime default "
         "APPLICATION.desktop application/vnd.google-earth.kml+xml).\n\n"
         "Le fichier converti se trouve ici :\n" +
         std::string(kmlPath);
}

std::string NoFolderViewer(std::string_view folder) {
  return "Aucune application n'a pu ouvrir le r\u00E9pertoire du fichier .kml.\n\n"
         "Installez un gestionnaire de fichiers, ou associez-en un aux r\u00E9pertoires "
         "(xdg-mime default APPLICATION.desktop inode/directory).\n\n"
         "Le r\u00E9pertoire :\n" +
         std::string(folder);
}

std::string NoOpener(std::string_view path) {
  return "Le programme xdg-open, par lequel la fen\u00EAtre ouvre fichiers et "
         "r\u00E9pertoires, est introuvable.\n\n"
         "Installez le paquet xdg-utils.\n\n"
         "Ce qu'il fallait ouvrir :\n" +
         std::string(path);
}

std::string CountName(std::int64_t lineCount) {
  return "Nombres de points : " + std::to_string(lineCount);
}

std::string RunFinishedStatus(std::int64_t lineCount) {
  return "OPERATION TERMINEE, " + CountName(lineCount);
}

std::string FollowRestarted(std::string_view name) {
  return QuotedName(name) +
         " a \u00E9t\u00E9 tronqu\u00E9 ou remplac\u00E9 : la conversion reprend depuis le "
         "d\u00E9but.";
}

std::string FollowLogGone(std::string_view name) {
  return QuotedName(name) +
         " a disparu : le dernier fichier KML est gard\u00E9, et le suivi reprendra d\u00E8s "
         "qu'un fichier de ce nom appara\u00EEtra.";
}

std::string FollowLogAwaited(std::string_view name) {
  return QuotedName(name) +
         " n'existe pas encore : le suivi commencera d\u00E8s qu'il appara\u00EEtra.";
}

std::string FollowAlreadyFollowed(std::string_view name, std::string_view kmlPath) {
  return "Impossible de suivre " + QuotedName(name) +
         " : un autre suivi (ostrevane-convert --suivre) \u00E9crit d\u00E9j\u00E0 " +
         QuotedName(kmlPath) + " ; arr\u00EAtez-le d'abord.";
}

std::string FollowPolling(std::string_view name) {
  return "le syst\u00E8me ne signale pas les changements de " + QuotedName(name) +
         " : le suivi le regarde une fois par intervalle.";
}

std::string FollowNothingWritten(std::string_view name) {
  return QuotedName(name) +
         " n'est jamais apparu : aucun fichier KML n'a \u00E9t\u00E9 \u00E9crit.";
}

std::string FollowOpenInViewer(std::string_view companionPath) {
  return "Ouvrez " + QuotedName(companionPath) +
         " dans un visualiseur de globe (Google Earth...) pour voir le trajet grandir ; "
         "Ctrl-C arr\u00EAte le suivi.";
}

std::string BadInterval(std::string_view text) {
  return "intervalle invalide " + QuotedName(text) +
         " : un nombre de secondes d'au moins 0.1, avec un point (par exemple 0.5)";
}

std::string_view Usage() {
  return "Utilisation : ostrevane-convert [--] FICHIER.nmea...\n"
         "        ou : ostrevane-convert --suivre [--intervalle=SECONDES] [--] "
         "FICHIER.nmea...\n"
         "Convertit chaque journal NMEA 0183 en un fichier KML \u00E9crit \u00E0 c\u00F4t\u00E9 "
         "de lui\n(trajet.nmea donne trajet.kml) et affiche le chemin de chaque fichier "
         "\u00E9crit.\n\n"
         "  --suivre      suit chaque journal pendant qu'il s'\u00E9crit : le fichier KML\n"
         "                est r\u00E9\u00E9crit d\u00E8s que des lignes arrivent, et "
         "trajet.suivi.kml,\n"
         "                \u00E0 ouvrir dans un visualiseur de globe, le recharge ; "
         "Ctrl-C arr\u00EAte\n"
         "  --intervalle=SECONDES\n"
         "                au plus un rafra\u00EEchissement par intervalle (1 par "
         "d\u00E9faut, 0.1 au moins)\n"
         "  --help        affiche cette aide\n"
         "  --version     affiche la version\n"
         "  --            la suite n'est faite que de noms de fichiers\n\n"
         "Code de sortie : 0 si tout est converti (ou si le suivi a \u00E9t\u00E9 "
         "arr\u00EAt\u00E9 et\nchaque fichier KML \u00E9crit), 1 si un fichier a "
         "\u00E9chou\u00E9 ou si la sortie standard n'a pas pu \u00EAtre \u00E9crite,\n2 en cas "
         "d'erreur d'utilisation.\n";
}

std::string UnknownOption(std::string_view option) {
  return "option inconnue " + QuotedName(option);
}

std::string StandardOutputFailure(int error) {
  return "impossible d'\u00E9crire sur la sortie standard : " + Cause(error) + ".";
}

std::string FromProgram(std::string_view program, std::string_view message) {
  std::string line(program);
  line += " : ";
  line += message;
  return line;
}

}  // namespace ostrevane::messages
