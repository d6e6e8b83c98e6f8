#!/usr/bin/env bash
# Installs what the build and the tests need, from Debian's packages.
# Idempotent: asks apt-get only for what is missing. Works as root or with sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  # mkntfs and the ntfs-3g FUSE driver: the test that saves onto an NTFS image
  ntfs-3g
  # mkfs.exfat with the exfat-fuse driver, mkfs.fat with the fusefat driver:
  # the same test on exFAT and FAT images
  exfatprogs exfat-fuse dosfstools fusefat
  # extract --tar writes its archive through libarchive
  libarchive-dev
)
if [ "${OSTREL_BUILD_GUI:-ON}" != "OFF" ]; then
  packages+=(qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev xvfb xauth fonts-liberation2)
  # The image view's decoders: Qt's extra image readers (TIFF, WBMP, MNG, ...),
  # ImageMagick's library with its extra coders (JBIG, JPEG 2000, WMF) and LibRaw
  packages+=(qt6-image-formats-plugins libmagick++-6.q16-dev libmagickcore-6.q16-6-extra libraw-dev)
  # The archive listing: 7-Zip's shared library (/usr/lib/p7zip/7z.so), loaded
  # at run time; without it archives are shown as a hex dump
  packages+=(p7zip-full)
  # The embedded browser of the preview (web pages, some pictures, audio and
  # video); the program runs without it, showing those files as a hex dump
  packages+=(qt6-webengine-dev)
fi
if [ "${OSTREL_FIXTURE_TOOLS:-OFF}" = "ON" ]; then
  # Only to remake the sample images in tests/fixtures/images (see its README)
  packages+=(imagemagick netpbm jbigkit-bin libopenjp2-tools libwmf-bin)
  # Only to remake the sample archives in tests/fixtures/archives (see its README)
  packages+=(zip p7zip-full arj gcab cpio xz-utils ncompress genisoimage rpm wimtools)
  # Only to remake the sample audio and video in tests/fixtures/media (see its README)
  packages+=(ffmpeg)
fi
if [ "${OSTREL_FUZZ:-OFF}" = "ON" ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then sudo="sudo"; else
    echo "deps.sh: missing packages (${missing[*]}) and not root, no sudo" >&2
    exit 1
  fi
fi
echo "deps.sh: installing ${missing[*]}" >&2
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
