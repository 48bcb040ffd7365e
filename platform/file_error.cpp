#include "platform/file_error.h"

#include <cerrno>

namespace ostrevane::platform {
namespace {

std::string Describe(FileAction action, const std::string& path, int error) {
  const std::string quoted = "\u00AB\u00A0" + path + "\u00A0\u00BB";
  switch (action) {
    case FileAction::Open:
      return "Impossible d'ouvrir le fichier " + quoted + " : " + FrenchCause(error) + ".";
    case FileAction::Read:
      return "Impossible de lire le fichier " + quoted + " : " + FrenchCause(error) + ".";
    case FileAction::Create:
      return "Impossible de cr\u00E9er le fichier " + quoted + " : " + FrenchCause(error) + ".";
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

FileError::FileError(FileAction action, const std::string& path, int error)
    : std::runtime_error(Describe(action, path, error)), action_(action), error_(error) {}

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
      return "ce n'est pas un fichier ordinaire";
    case EBUSY:
      return "fichier d\u00E9j\u00E0 ouvert";
    case ETXTBSY:
      return "fichier utilis\u00E9 par un autre programme";
    case ELOOP:
      return "trop de liens symboliques";
    case EFBIG:
      return "fichier trop grand";
    default:
      return "erreur syst\u00E8me " + std::to_string(error);
  }
}

}  // namespace ostrevane::platform
