// The configuration file: its location, first-start creation, loading and saving.
#include "config/config_store.h"

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>

#include "config/default_config.h"
#include "core/pooled_string.h"
#include "core/user_messages.h"
#include "platform/atomic_file.h"
#include "platform/directory.h"
#include "platform/file_copy.h"
#include "platform/file_status.h"
#include "platform/paths.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"
#include "xml/xml_writer.h"

namespace {

constexpr char kConfigFolderName[] = "Lumbra_Corvane";
constexpr char kConfigFileName[] = "lumbra.xml";
constexpr char kBackupSuffix[] = ".bak";

constexpr char kCannotGather[] =
    "Lumbra cannot work in this environment. Configuration cannot be gathered.";
constexpr char kCannotCompile[] =
    "Lumbra cannot work in this environment. Configuration resources cannot be compiled.";
constexpr char kCannotSaveCompile[] =
    "Lumbra cannot save its state in this environment. Configuration resources cannot be "
    "compiled.";
constexpr char kCannotSaveWrite[] =
    "Lumbra cannot save its state in this environment. Configuration resources cannot be "
    "written.";

// Captions of the boxes the XML reader shows when a file is not well formed.
constexpr std::string_view kParserErrorCaption = "xml parser error";
constexpr std::string_view kReaderErrorCaption = "xml dom reader";

// The configuration file whose last load met a reader error and that has not
// been backed up since: the next save copies it aside before replacing it.
std::mutex g_backupLock;
std::string g_pathNeedingBackup;

// Notes whether the XML reader shows an error while this object lives; every
// message still reaches the listener installed before. The state is shared
// with the installed listener, so a message shown on another thread at the
// moment of restoring never touches a destroyed object.
class CReaderErrorWatch {
 public:
  CReaderErrorWatch() : m_state(std::make_shared<State>()) {
    // Holding the state's lock until `previous` is stored makes a message shown
    // meanwhile wait for it instead of missing the previous listener.
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->previous =
        SetMessageListener([state = m_state](std::string_view caption, std::string_view text) {
          MessageListener previous;
          {
            std::lock_guard<std::mutex> guard(state->lock);
            if (caption == kParserErrorCaption || caption == kReaderErrorCaption)
              state->sawError = true;
            previous = state->previous;
          }
          if (previous) previous(caption, text);
        });
  }
  ~CReaderErrorWatch() {
    MessageListener previous;
    {
      std::lock_guard<std::mutex> guard(m_state->lock);
      previous = m_state->previous;
    }
    SetMessageListener(std::move(previous));
  }
  CReaderErrorWatch(const CReaderErrorWatch&) = delete;
  CReaderErrorWatch& operator=(const CReaderErrorWatch&) = delete;

  bool SawError() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->sawError;
  }

 private:
  struct State {
    std::mutex lock;
    MessageListener previous;
    bool sawError = false;
  };
  std::shared_ptr<State> m_state;
};

void RememberBackupNeed(const std::string& path, bool needed) {
  std::lock_guard<std::mutex> guard(g_backupLock);
  if (needed) {
    g_pathNeedingBackup = path;
  } else if (g_pathNeedingBackup == path) {
    g_pathNeedingBackup.clear();
  }
}

bool NeedsBackup(const std::string& path) {
  std::lock_guard<std::mutex> guard(g_backupLock);
  return g_pathNeedingBackup == path;
}

// Copies a file the reader complained about to "<path>.bak" once; false
// (after a file-error message) when that copy fails.
bool BackUpBeforeReplacing(const std::string& path) {
  if (!NeedsBackup(path) || !PathExists(path)) return true;
  std::string backupPath = path + kBackupSuffix;
  if (!CopyFile(path, backupPath)) {
    ShowFileError(backupPath);
    return false;
  }
  RememberBackupNeed(path, false);
  return true;
}

std::string CannotWriteMessage(const std::string& path) {
  return std::string(kCannotSaveWrite) + " (" + path + ")";
}

// Writes the built-in default to `path` byte for byte; the text already starts
// with its declaration line.
bool WriteDefaultText(const std::string& path) {
  std::string_view text = GetDefaultConfigText();
  CXmlFileWriter writer{CPooledString(path)};
  writer.SetDeclarationWritten(true);
  bool written = writer.Write(text.data(), text.size());
  bool closed = writer.Close();
  return written && closed;
}

bool WriteConfigTree(const std::string& path, const CXmlNode& root) {
  CXmlFileWriter writer{CPooledString(path)};
  bool written = WriteXmlNode(writer, root);
  bool opened = writer.IsOpened();
  bool closed = writer.Close();
  return written && opened && closed;
}

// Both writers below go to a temporary file that is renamed into place only
// when complete, so a crash or a full disk never leaves a truncated
// configuration behind.

// Failures show nothing here: the caller reports a file that is still missing.
void WriteDefaultConfig(const std::string& path) {
  CTempFile temp(path);
  if (temp.IsCreated() && WriteDefaultText(temp.GetPath())) temp.Commit();
}

bool ReplaceConfigFile(const std::string& path, const CXmlNode& root) {
  CTempFile temp(path);
  return temp.IsCreated() && WriteConfigTree(temp.GetPath(), root) && temp.Commit();
}

}  // namespace

std::string_view GetDefaultConfigText() { return kDefaultConfigXml(); }

std::string GetConfigFolder() {
  std::string configHome = GetUserConfigHome();
  if (configHome.empty()) return {};
  std::string folder = JoinPath(configHome, kConfigFolderName);
  if (CreateDirectories(folder)) return folder;
  // The message names the creation's error, not the existence test's.
  int creationError = errno;
  if (PathExists(folder)) return folder;
  errno = creationError;
  ShowFileError(folder);
  return {};
}

std::string GetConfigPath() {
  std::string folder = GetConfigFolder();
  if (folder.empty()) return {};
  return JoinPath(folder, kConfigFileName);
}

void ShowFileError(const std::string& path) {
  const char* text;
  switch (errno) {
    case ENOENT:
    case ENOTDIR:
      text = "Wrong file path.";
      break;
    case EACCES:
    case EPERM:
      text = "Access denied.";
      break;
    case EROFS:
      text = "File write protected.";
      break;
    case EWOULDBLOCK:
    case EBUSY:
    case ETXTBSY:
      text = "File locked.";
      break;
    case ENOSPC:
    case EDQUOT:
      text = "Disk is full.";
      break;
    default:
      text = "File Operation could not succeed.";
      break;
  }
  if (path.empty()) {
    ShowAppMessage(text);
    return;
  }
  ShowAppMessage(std::string(text) + " (" + path + ")");
}

bool LoadConfig(CXmlNode& document) {
  std::string path = GetConfigPath();
  if (path.empty()) {
    ShowAppMessage(kCannotGather);
    return false;
  }
  RemoveLeftoverTempFiles(path);
  if (!PathExists(path)) WriteDefaultConfig(path);
  if (!PathExists(path)) {
    ShowAppMessage(kCannotCompile);
    return false;
  }
  document.SetName(CPooledString("__root__"));
  CReaderErrorWatch watch;
  bool loaded = LoadXmlFile(path.c_str(), true, document);
  RememberBackupNeed(path, watch.SawError());
  return loaded;
}

void SaveConfig(const CXmlNode& document) {
  std::string path = GetConfigPath();
  if (path.empty()) {
    ShowAppMessage(kCannotSaveCompile);
    return;
  }
  const CXmlNode* root = document.FindChild("lumbra");
  if (root == nullptr || !BackUpBeforeReplacing(path)) {
    ShowAppMessage(CannotWriteMessage(path));
    return;
  }
  if (!ReplaceConfigFile(path, *root)) {
    ShowFileError(path);
    ShowAppMessage(CannotWriteMessage(path));
  }
}
