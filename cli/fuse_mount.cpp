#define FUSE_USE_VERSION FUSE_MAKE_VERSION(3, 12)

#include "cli/fuse_mount.h"

#include <fuse_lowlevel.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/volume/file_info.h"

namespace kestrine::cli {
namespace {

// The tree never changes while mounted: the kernel may keep what it learnt.
constexpr double kCacheSeconds = 24 * 3600;

struct TMountContext {
  TMountFiles& Files;
  const TFuseMountOptions& Options;
  uid_t Owner = ::getuid();
  gid_t Group = ::getgid();
  timespec Mounted{};
};

void Init(void*, fuse_conn_info* Connection) {
  // Every listing brings the attributes: the tree and its sizes do not change.
  if (Connection->capable & FUSE_CAP_READDIRPLUS) Connection->want |= FUSE_CAP_READDIRPLUS;
  Connection->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
  // A file is read through the reader of its node: opens need not come here (each would cost a request).
  if (Connection->capable & FUSE_CAP_NO_OPEN_SUPPORT) Connection->want |= FUSE_CAP_NO_OPEN_SUPPORT;
}

TMountContext& Context(fuse_req_t Req) { return *static_cast<TMountContext*>(fuse_req_userdata(Req)); }

// Inode numbers are node ids plus one: FUSE's root is 1.
std::optional<TMountNodeId> NodeOf(TMountContext& C, fuse_ino_t Ino) {
  if (Ino < FUSE_ROOT_ID || Ino - FUSE_ROOT_ID >= C.Files.Tree().Count()) return std::nullopt;
  return static_cast<TMountNodeId>(Ino - FUSE_ROOT_ID);
}

timespec TimeOf(TFileTime Time, const timespec& Otherwise) {
  if (Time == 0) return Otherwise;
  const TUnixTime t = FileTimeToUnix(Time);
  return {static_cast<time_t>(t.Seconds), static_cast<long>(t.Nanoseconds)};
}

struct stat StatOf(TMountContext& C, TMountNodeId Id) {
  const TMountNode& node = C.Files.Tree().Node(Id);
  struct stat st {};
  st.st_ino = Id + FUSE_ROOT_ID;
  st.st_mode = node.IsFolder ? S_IFDIR | 0555 : S_IFREG | 0444;
  st.st_nlink = node.IsFolder ? 2 : 1;
  st.st_uid = C.Owner;
  st.st_gid = C.Group;
  st.st_size = C.Files.Size(Id);
  st.st_blksize = 4096;
  st.st_blocks = (st.st_size + 511) / 512;
  // Items record no access time; the status-change time carries the creation time.
  st.st_mtim = node.Item ? TimeOf(node.Item->LastWriteTime, C.Mounted) : C.Mounted;
  st.st_atim = st.st_mtim;
  st.st_ctim = node.Item ? TimeOf(node.Item->CreationTime, st.st_mtim) : C.Mounted;
  return st;
}

fuse_entry_param EntryOf(TMountContext& C, TMountNodeId Id) {
  fuse_entry_param e{};
  e.ino = Id + FUSE_ROOT_ID;
  e.attr = StatOf(C, Id);
  e.attr_timeout = kCacheSeconds;
  e.entry_timeout = kCacheSeconds;
  return e;
}

void Lookup(fuse_req_t Req, fuse_ino_t Parent, const char* Name) {
  TMountContext& c = Context(Req);
  const auto folder = NodeOf(c, Parent);
  const auto found = folder ? c.Files.Tree().Lookup(*folder, Name) : std::nullopt;
  if (!found) {
    fuse_reply_err(Req, ENOENT);
    return;
  }
  const fuse_entry_param e = EntryOf(c, *found);
  fuse_reply_entry(Req, &e);
}

void GetAttr(fuse_req_t Req, fuse_ino_t Ino, fuse_file_info*) {
  TMountContext& c = Context(Req);
  const auto id = NodeOf(c, Ino);
  if (!id) {
    fuse_reply_err(Req, ENOENT);
    return;
  }
  const struct stat st = StatOf(c, *id);
  fuse_reply_attr(Req, &st, kCacheSeconds);
}

// Entry k (from 0: ".", "..", then the children) is followed by offset k + 1. With Plus each entry
// carries its attributes, so a walk that looks at every file asks no more per file.
void ListFolder(fuse_req_t Req, fuse_ino_t Ino, size_t Size, off_t Offset, bool Plus) {
  TMountContext& c = Context(Req);
  const auto id = NodeOf(c, Ino);
  if (!id || !c.Files.Tree().Node(*id).IsFolder) {
    fuse_reply_err(Req, id ? ENOTDIR : ENOENT);
    return;
  }
  const TMountNode& folder = c.Files.Tree().Node(*id);
  std::vector<char> buffer(Size);
  std::size_t used = 0;
  for (auto k = static_cast<std::size_t>(std::max<off_t>(Offset, 0)); k < folder.Children.size() + 2; ++k) {
    const TMountNodeId entry = k == 0 ? *id : k == 1 ? folder.Parent : folder.Children[k - 2];
    const std::string name = k == 0 ? "." : k == 1 ? ".." : c.Files.Tree().Node(entry).Name;
    char* at = buffer.data() + used;
    const auto next = static_cast<off_t>(k + 1);
    std::size_t need = 0;
    if (Plus) {
      const fuse_entry_param e = EntryOf(c, entry);
      need = fuse_add_direntry_plus(Req, at, Size - used, name.c_str(), &e, next);
    } else {
      struct stat st {};
      st.st_ino = entry + FUSE_ROOT_ID;
      st.st_mode = c.Files.Tree().Node(entry).IsFolder ? S_IFDIR : S_IFREG;
      need = fuse_add_direntry(Req, at, Size - used, name.c_str(), &st, next);
    }
    if (need > Size - used) break;
    used += need;
  }
  fuse_reply_buf(Req, buffer.data(), used);
}

void ReadDir(fuse_req_t Req, fuse_ino_t Ino, size_t Size, off_t Offset, fuse_file_info*) {
  ListFolder(Req, Ino, Size, Offset, false);
}

void ReadDirPlus(fuse_req_t Req, fuse_ino_t Ino, size_t Size, off_t Offset, fuse_file_info*) {
  ListFolder(Req, Ino, Size, Offset, true);
}

// Without direct_io no open reaches here after the first: reads find the file's reader by its node.
void Open(fuse_req_t Req, fuse_ino_t Ino, fuse_file_info* Info) {
  TMountContext& c = Context(Req);
  const auto id = NodeOf(c, Ino);
  if (!id) {
    fuse_reply_err(Req, ENOENT);
    return;
  }
  if ((Info->flags & O_ACCMODE) != O_RDONLY || (Info->flags & O_TRUNC)) {
    fuse_reply_err(Req, EROFS);
    return;
  }
  if (c.Files.Tree().Node(*id).IsFolder) {
    fuse_reply_err(Req, EISDIR);
    return;
  }
  if (!c.Options.DirectIo) {
    fuse_reply_err(Req, ENOSYS);
    return;
  }
  Info->direct_io = 1;
  fuse_reply_open(Req, Info);
}

void Read(fuse_req_t Req, fuse_ino_t Ino, size_t Size, off_t Offset, fuse_file_info*) {
  TMountContext& c = Context(Req);
  const auto id = NodeOf(c, Ino);
  const std::shared_ptr<TMountReader> reader = id ? c.Files.Reader(*id) : nullptr;
  if (!reader) {
    fuse_reply_err(Req, id ? EISDIR : ENOENT);
    return;
  }
  // Left uninitialised: the reader fills every byte it returns.
  const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[Size]);
  const std::size_t got = reader->ReadAt(Offset, buffer.get(), Size);
  fuse_reply_buf(Req, reinterpret_cast<const char*>(buffer.get()), got);
}

// The named attribute's value, or the list of names; Size 0 asks only for the length.
void ReplyXattr(fuse_req_t Req, const std::string& Value, size_t Size) {
  if (Size == 0)
    fuse_reply_xattr(Req, Value.size());
  else if (Size < Value.size())
    fuse_reply_err(Req, ERANGE);
  else
    fuse_reply_buf(Req, Value.data(), Value.size());
}

void GetXattr(fuse_req_t Req, fuse_ino_t Ino, const char* Name, size_t Size) {
  TMountContext& c = Context(Req);
  const auto id = NodeOf(c, Ino);
  if (id)
    for (const auto& [name, value] : c.Files.Attributes(*id))
      if (name == Name) return ReplyXattr(Req, value, Size);
  fuse_reply_err(Req, id ? ENODATA : ENOENT);
}

void ListXattr(fuse_req_t Req, fuse_ino_t Ino, size_t Size) {
  TMountContext& c = Context(Req);
  const auto id = NodeOf(c, Ino);
  std::string names;
  if (id)
    for (const auto& attribute : c.Files.Attributes(*id)) names.append(attribute.first).push_back('\0');
  ReplyXattr(Req, names, Size);
}

void StatFs(fuse_req_t Req, fuse_ino_t) {
  struct statvfs st {};
  st.f_bsize = st.f_frsize = 4096;
  st.f_files = Context(Req).Files.Tree().Count();
  st.f_namemax = 255;
  st.f_flag = ST_RDONLY;
  fuse_reply_statfs(Req, &st);
}

// Every change is refused: nothing is ever written, on the source or in the tree.
void RefuseAttr(fuse_req_t Req, fuse_ino_t, struct stat*, int, fuse_file_info*) { fuse_reply_err(Req, EROFS); }
void RefuseNamed(fuse_req_t Req, fuse_ino_t, const char*) { fuse_reply_err(Req, EROFS); }
void RefuseMake(fuse_req_t Req, fuse_ino_t, const char*, mode_t) { fuse_reply_err(Req, EROFS); }
void RefuseNode(fuse_req_t Req, fuse_ino_t, const char*, mode_t, dev_t) { fuse_reply_err(Req, EROFS); }
void RefuseSymlink(fuse_req_t Req, const char*, fuse_ino_t, const char*) { fuse_reply_err(Req, EROFS); }
void RefuseRename(fuse_req_t Req, fuse_ino_t, const char*, fuse_ino_t, const char*, unsigned) {
  fuse_reply_err(Req, EROFS);
}
void RefuseLink(fuse_req_t Req, fuse_ino_t, fuse_ino_t, const char*) { fuse_reply_err(Req, EROFS); }
void RefuseWrite(fuse_req_t Req, fuse_ino_t, const char*, size_t, off_t, fuse_file_info*) { fuse_reply_err(Req, EROFS); }
void RefuseCreate(fuse_req_t Req, fuse_ino_t, const char*, mode_t, fuse_file_info*) { fuse_reply_err(Req, EROFS); }
void RefuseSetXattr(fuse_req_t Req, fuse_ino_t, const char*, const char*, size_t, int) { fuse_reply_err(Req, EROFS); }
void RefuseAllocate(fuse_req_t Req, fuse_ino_t, int, off_t, off_t, fuse_file_info*) { fuse_reply_err(Req, EROFS); }

fuse_lowlevel_ops Operations() {
  fuse_lowlevel_ops ops{};
  ops.lookup = Lookup;
  ops.getattr = GetAttr;
  ops.init = Init;
  ops.readdir = ReadDir;
  ops.readdirplus = ReadDirPlus;
  ops.open = Open;
  ops.read = Read;
  ops.getxattr = GetXattr;
  ops.listxattr = ListXattr;
  ops.statfs = StatFs;
  ops.setattr = RefuseAttr;
  ops.mknod = RefuseNode;
  ops.mkdir = RefuseMake;
  ops.unlink = RefuseNamed;
  ops.rmdir = RefuseNamed;
  ops.removexattr = RefuseNamed;
  ops.symlink = RefuseSymlink;
  ops.rename = RefuseRename;
  ops.link = RefuseLink;
  ops.write = RefuseWrite;
  ops.create = RefuseCreate;
  ops.setxattr = RefuseSetXattr;
  ops.fallocate = RefuseAllocate;
  return ops;
}

// A mount option's value, with the separators of the option list escaped.
std::string OptionValue(const std::string& Text) {
  std::string out;
  for (char ch : Text) {
    if (ch == ',' || ch == '\\') out += '\\';
    out += ch;
  }
  return out;
}

// libfuse says on stderr why a mount fails; the command says it in its own line instead.
void Silent(fuse_log_level, const char*, va_list) {}

struct TSessionEnd {
  void operator()(fuse_session* Session) const { fuse_session_destroy(Session); }
};
using TSession = std::unique_ptr<fuse_session, TSessionEnd>;

struct TLoopConfigEnd {
  void operator()(fuse_loop_config* Config) const { fuse_loop_cfg_destroy(Config); }
};

}  // namespace

std::string MountFolderProblem(const std::string& Folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(Folder, ec);
  if (!fs::exists(status)) return "no such folder";
  if (!fs::is_directory(status)) return "not a folder";
  // libfuse mounts over what a folder holds, which would hide it.
  if (!fs::is_empty(Folder, ec) || ec) return ec ? "cannot be listed: " + ec.message() : "not empty";
  if (::access("/dev/fuse", F_OK) != 0) return "cannot be mounted on: there is no /dev/fuse (FUSE is not available here)";
  if (::access("/dev/fuse", R_OK | W_OK) != 0 && ::geteuid() == 0)
    return "cannot be mounted on: /dev/fuse cannot be opened: " + std::string(std::strerror(errno));
  return {};
}

bool ServeMount(TMountFiles& Files, const TFuseMountOptions& O, const std::function<void()>& OnMounted,
                std::string& Error) {
  TMountContext context{Files, O};
  ::clock_gettime(CLOCK_REALTIME, &context.Mounted);
  std::string options = "ro,default_permissions,subtype=kestrine,fsname=" + OptionValue(O.Source);
  if (O.AllowOther) options += ",allow_other";
  std::vector<std::string> argv{"kestrine-cli", "-o", options};
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  fuse_args fargs = FUSE_ARGS_INIT(static_cast<int>(args.size()), args.data());
  const fuse_lowlevel_ops ops = Operations();
  fuse_set_log_func(Silent);
  TSession session(fuse_session_new(&fargs, &ops, sizeof ops, &context));
  const bool mounted = session && fuse_session_mount(session.get(), O.Folder.c_str()) == 0;
  fuse_set_log_func(nullptr);
  fuse_opt_free_args(&fargs);
  if (!mounted) {
    Error = ::geteuid() != 0 ? "cannot be mounted on: FUSE refused (mounting needs root, or fusermount3 from fuse3"
                                   + std::string(O.AllowOther ? " and user_allow_other in /etc/fuse.conf" : "") + ")"
                             : "cannot be mounted on: FUSE refused the mount";
    return false;
  }
  if (fuse_set_signal_handlers(session.get()) != 0) {
    fuse_session_unmount(session.get());
    Error = "cannot be served: the signal handlers could not be set";
    return false;
  }
  OnMounted();
  std::unique_ptr<fuse_loop_config, TLoopConfigEnd> config(fuse_loop_cfg_create());
  fuse_loop_cfg_set_clone_fd(config.get(), 0);
  // Ctrl-C ends the loop with the signal's number; fusermount3 -u with 0.
  const int ended = fuse_session_loop_mt(session.get(), config.get());
  fuse_remove_signal_handlers(session.get());
  fuse_session_unmount(session.get());
  if (ended < 0) {
    Error = "serving the mount failed: " + std::string(std::strerror(-ended));
    return false;
  }
  return true;
}

}  // namespace kestrine::cli
