#pragma once
// What a simulated disk holds: libblkid on the image file, the mounts its metadata simulates.
#include <vector>

#include "device/disk_contents.hpp"
#include "device/image/image_drive.hpp"

namespace fw::image {

// `mounted`: the drive's simulated mounts that are mounted now.
DiskContents DescribeImageDrive(const ImageDrive& drive, const std::vector<ImageMount>& mounted);

}  // namespace fw::image
