#include "platform/file_error.h"

#include <cerrno>

namespace ostrevane::platform {
namespace {

std::string FolderName(const std::string& folder) {
  return folder.empty() ? "le dossier courant" : "le dossier " + QuotedName(folder);
}

std::string Describe(FileAction action, const std::string& path, int error,
                     const std::string& folder) {
  const std::string quoted = QuotedName(path);
  switch (action) {
    case FileAction::Open:
      return "Impossible d'ouvrir le fichier " + quoted + " : " + FrenchCause(error) + ".";
    case FileAction::Read:
      return "Impossible de lire le fichier " + quoted + " : " + FrenchCause(error) + ".";
    case FileAction::Create:
      return "Impossible de cr\u00E9er le fichier " + quoted + " : " + FrenchCause(error) + ".";
    case FileAction::CreateInFolder:
      return "Impossible de cr\u00E9er le fichier " + quoted + " : impossible d'\u00E9crire dans " +
             FolderName(folder) + " (" + FrenchCause(error) + ").";
    case FileAction::Write:
      return "Impossible d'\u00E9crire le fichier " + quoted + " : " + FrenchCause(error) + ".";
    case FileAction::Replace:
      return "Impossible de remplacer le fichier " + quoted + " : " + FrenchCause(error) + ".";
    case FileAction::NoFreeNumber:
      return "Impossible d'ouvrir le fichier " + quoted + " : trop de fichiers ouverts.";
    case FileAction::BadNumber:
      return "Impossible d'utiliser le fichier " + quoted + " : num\u00E9ro de fichier incorrect.";
  }
  return "Erreur sur le fichier " + quoted + ".";
}

}  // namespace

FileError::FileError(FileAction action, const std::string& path, int error,
                     const std::string& folder)
    : std::runtime_error(Describe(action, path, error, folder)), action_(action), error_(error) {}

std::string FrenchCause(int error) {
  switch (error) {
    case ENOENT:
      return "fichier ou dossier introuvable";
    case EACCES:
    case EPERM:
      return "acc\u00E8s refus\u00E9";
    case ENOSPC:
      return "disque plein";
#ifdef EDQUOT
    case EDQUOT:
      return "quota de disque d\u00E9pass\u00E9";
#endif
    case EISDIR:
      return "c'est un dossier";
    case ENOTDIR:
      return "un \u00E9l\u00E9ment du chemin n'est pas un dossier";
    case EROFS:
      return "support en lecture seule";
    case EIO:
      return "erreur d'entr\u00E9e-sortie";
    case ENAMETOOLONG:
      return "nom trop long";
    case EMFILE:
    case ENFILE:
      return "trop de fichiers ouverts";
    case EINVAL:
    case ENXIO:
    case ENODEV:
      // What a socket or a device without its hardware gives.
      return "ce n'est pas un fichier ordinaire";
    case EBUSY:
      return "fichier d\u00E9j\u00E0 ouvert";
    case ETXTBSY:
      return "fichier utilis\u00E9 par un autre programme";
    case ELOOP:
      return "trop de liens symboliques";
    case EFBIG:
      return "fichier trop grand";
    case EAGAIN:
      return "ressource momentan\u00E9ment indisponible";
    case EEXIST:
      return "le fichier existe d\u00E9j\u00E0";
    case ENOMEM:
      return "m\u00E9moire insuffisante";
    case EINTR:
      return "op\u00E9ration interrompue";
    case EPIPE:
      return "le lecteur a ferm\u00E9 le tube";
    case ESPIPE:
    case EBADF:
      return "ce fichier ne se lit pas de cette fa\u00E7on";
#ifdef EOVERFLOW
    case EOVERFLOW:
      return "fichier trop grand pour ce syst\u00E8me";
#endif
    case EXDEV:
      return "les deux fichiers sont sur des supports diff\u00E9rents";
    case EMLINK:
      return "trop de liens vers ce fichier";
    case ENOSYS:
#if defined(EOPNOTSUPP)
    case EOPNOTSUPP:
#endif
#if defined(ENOTSUP) && (!defined(EOPNOTSUPP) || ENOTSUP != EOPNOTSUPP)
    case ENOTSUP:
#endif
      return "op\u00E9ration non prise en charge par ce syst\u00E8me de fichiers";
#ifdef ETIMEDOUT
    case ETIMEDOUT:
      return "d\u00E9lai d\u00E9pass\u00E9";
#endif
#ifdef ESTALE
    case ESTALE:
      return "fichier r\u00E9seau devenu inaccessible";
#endif
    case EILSEQ:
      return "nom de fichier incorrect";
    default:
      return "erreur inattendue du syst\u00E8me";
  }
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

}  // namespace ostrevane::platform
