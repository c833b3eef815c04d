#include "device/linux/mount_table.hpp"

#include <libmount/libmount.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <memory>
#include <string_view>

namespace fw::linuxio {
namespace {

struct TableFree {
  void operator()(libmnt_table* table) const { mnt_unref_table(table); }
};
struct IterFree {
  void operator()(libmnt_iter* iter) const { mnt_free_iter(iter); }
};
struct ContextFree {
  void operator()(libmnt_context* context) const { mnt_free_context(context); }
};
using Table = std::unique_ptr<libmnt_table, TableFree>;

std::string Text(const char* text) { return text != nullptr ? text : ""; }

template <class Fn>
void ForEachFs(libmnt_table* table, Fn fn) {
  const std::unique_ptr<libmnt_iter, IterFree> iter(mnt_new_iter(MNT_ITER_FORWARD));
  if (table == nullptr || !iter) return;
  libmnt_fs* fs = nullptr;
  while (mnt_table_next_fs(table, iter.get(), &fs) == 0) fn(fs);
}

}  // namespace

std::string SourceDeviceName(const std::string& source) {
  if (!source.starts_with("/dev/")) return {};
  std::string name = BaseName(source);
  if (char* resolved = ::realpath(source.c_str(), nullptr)) {
    name = BaseName(resolved);
    std::free(resolved);
  }
  return name;
}

std::optional<Devno> BlockDeviceOfMount(const SysTree& sys, const MountNode& mount) {
  if (mount.dev.major != 0 && sys.Exists("/sys/dev/block/" + std::to_string(mount.dev.major) + ":" +
                                         std::to_string(mount.dev.minor))) {
    return mount.dev;
  }
  return DevnoOfName(sys, SourceDeviceName(mount.source));
}

std::vector<MountNode> ReadMountTable(const std::string& path) {
  std::vector<MountNode> nodes;
  const Table table(mnt_new_table());
  if (!table) return nodes;
  // A line libmount cannot read is left out; the rest of the table still counts.
  mnt_table_set_parser_errcb(table.get(), [](libmnt_table*, const char*, int) { return 1; });
  if (mnt_table_parse_file(table.get(), path.c_str()) != 0) return nodes;
  ForEachFs(table.get(), [&](libmnt_fs* fs) {
    MountNode node;
    node.id = mnt_fs_get_id(fs);
    node.parent = mnt_fs_get_parent_id(fs);
    const dev_t dev = mnt_fs_get_devno(fs);
    node.dev = Devno{major(dev), minor(dev)};
    node.root = Text(mnt_fs_get_root(fs));
    node.target = Text(mnt_fs_get_target(fs));
    node.fsType = Text(mnt_fs_get_fstype(fs));
    node.source = Text(mnt_fs_get_source(fs));
    node.options = Text(mnt_fs_get_options(fs));
    node.vfsOptions = Text(mnt_fs_get_vfs_options(fs));
    node.propagation = Text(mnt_fs_get_optional_fields(fs));
    nodes.push_back(std::move(node));
  });
  return nodes;
}

std::vector<std::string> ActiveSwaps(const std::string& path) {
  std::vector<std::string> paths;
  const Table table(mnt_new_table());
  if (!table || mnt_table_parse_swaps(table.get(), path.c_str()) != 0) return paths;
  ForEachFs(table.get(), [&](libmnt_fs* fs) { paths.push_back(Text(mnt_fs_get_source(fs))); });
  return paths;
}

std::string PropagationOptions(const std::string& fields) {
  std::string options;
  const auto add = [&options](std::string_view flag) {
    if (!options.empty()) options.push_back(',');
    options.append(flag);
  };
  // A slave that is also shared is made a slave first: making it shared afterwards keeps both.
  if (fields.find("master:") != std::string::npos) add("slave");
  if (fields.find("shared:") != std::string::npos) add("shared");
  if (fields.find("unbindable") != std::string::npos) add("unbindable");
  if (options.empty()) add("private");
  return options;
}

bool MountAgain(const MountNode& mount, const std::optional<std::string>& folder) {
  const std::unique_ptr<libmnt_context, ContextFree> context(mnt_new_context());
  if (!context) return false;
  libmnt_context* c = context.get();
  // What was mounted is known exactly; nothing may be looked up or rewritten on the way.
  mnt_context_set_optsmode(c, MNT_OMODE_NOTAB);
  mnt_context_disable_mtab(c, 1);
  mnt_context_disable_helpers(c, 1);
  mnt_context_disable_canonicalize(c, 1);
  mnt_context_set_target(c, mount.target.c_str());
  // A bind takes the mount's own flags (libmount remounts the bind with them); a new mount
  // would otherwise take its propagation from its parent, so it is set as it was.
  std::string options = folder ? "bind" : mount.options;
  if (folder && !mount.vfsOptions.empty()) {
    options.push_back(',');
    options.append(mount.vfsOptions);
  }
  options.push_back(',');
  options.append(PropagationOptions(mount.propagation));
  if (folder) {
    mnt_context_set_source(c, folder->c_str());
  } else {
    mnt_context_set_source(c, mount.source.c_str());
    mnt_context_set_fstype(c, mount.fsType.c_str());
  }
  mnt_context_set_options(c, options.c_str());
  return mnt_context_mount(c) == 0 && mnt_context_get_status(c) == 1;
}

}  // namespace fw::linuxio
