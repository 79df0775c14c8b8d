// A drive of the prefix on a small file system of its own, for the tests of
// a drive without room.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "wine_fixture.hpp"

namespace winetest {

// Drive R: of the prefix on a 2 MiB file system of its own, so that the
// free-space check and the writes meet a drive without room. Mounting needs
// root; without it the tests that use the drive are skipped.
class SmallDrive {
public:
  explicit SmallDrive(const std::filesystem::path& mountPoint) : mountPoint_(mountPoint) {
    std::filesystem::create_directories(mountPoint_);
    const std::string command = "mount -t tmpfs -o size=2m tmpfs '" + mountPoint_.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return;
    mounted_ = true;
    link_ = Wine().Prefix() / "dosdevices" / "r:";
    std::error_code ec;
    std::filesystem::remove(link_, ec);
    std::filesystem::create_directory_symlink(mountPoint_, link_, ec);
  }
  ~SmallDrive() {
    if (!mounted_) return;
    std::error_code ec;
    std::filesystem::remove(link_, ec);
    const std::string command = "umount '" + mountPoint_.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "could not unmount " << mountPoint_;
  }
  bool Mounted() const { return mounted_; }

private:
  std::filesystem::path mountPoint_;
  std::filesystem::path link_;
  bool mounted_ = false;
};

}  // namespace winetest
