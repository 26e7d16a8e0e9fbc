#!/usr/bin/env bash
# Installs the Debian packages that building the programs needs, and with
# `test` also those the tests need, with `ci` everything continuous
# integration builds and runs (the cross compilers, their emulators, the
# fuzzers, the packaging tools), where they are missing:
#
#   tools/install_dependencies.sh build|test|ci
#
# As root it installs them with apt-get, otherwise through sudo; where
# neither can be had it prints the one apt-get line that installs them and
# stops with status 1. A package that apt-get cannot install is named, and
# what needs it is left out of the build (CMake says so as it configures):
# without CLI11 or zlib there is no discharge_term, without the netCDF
# library no `discharge_term netcdf`, without a tool the tests that use it
# are skipped. Only a machine without a compiler or CMake cannot build.
set -euo pipefail
cd "$(dirname "$0")/.."

tier=${1:-}
case "$tier" in
    build | test | ci) ;;
    *)
        echo "usage: tools/install_dependencies.sh build|test|ci" >&2
        exit 2
        ;;
esac

missing=()
# `need FILE PACKAGE`: PACKAGE is wanted unless FILE exists (a command name
# is looked up on PATH).
need() {
    if [[ $1 == /* ]]; then
        compgen -G "$1" >/dev/null || missing+=("$2")
    else
        command -v "$1" >/dev/null || missing+=("$2")
    fi
}

# The build: the compiler, CMake with make, and discharge_term's libraries.
need cmake cmake
need g++ g++
need make make
need /usr/include/zlib.h zlib1g-dev
need /usr/include/CLI/CLI.hpp libcli11-dev
need /usr/include/netcdf.h libnetcdf-dev
# The animations' GIF encoder, and the annotated frames' font and its
# rasteriser (header-only).
need /usr/include/gif_lib.h libgif-dev
need /usr/include/stb/stb_truetype.h libstb-dev
need /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf fonts-dejavu-core

if [ "$tier" != build ]; then
    # GoogleTest, and the tools the tests read the outputs with: netpbm's
    # decoder and pngcheck for PNG, groff for the manual pages, the field's
    # NetCDF tools (ncdump, CDO, Python's netCDF4 of Debian's python3), and
    # Chromium driven by Selenium for the view page, with node to check its
    # script.
    need /usr/include/gtest/gtest.h libgtest-dev
    need pngtopnm netpbm
    need pngcheck pngcheck
    need groff groff-base
    need ncdump netcdf-bin
    need cdo cdo
    need /usr/bin/python3 python3
    need '/usr/lib/python3/dist-packages/netCDF4' python3-netcdf4
    need chromium chromium
    need chromedriver chromium-driver
    need '/usr/lib/python3/dist-packages/selenium' python3-selenium
    need node nodejs
    need unshare util-linux
    # The colours and animations checked against matplotlib's colour maps,
    # numpy and Pillow's GIF decoder, and an annotated frame's date read back
    # by OCR.
    need '/usr/lib/python3/dist-packages/matplotlib' python3-matplotlib
    need '/usr/lib/python3/dist-packages/numpy' python3-numpy
    need '/usr/lib/python3/dist-packages/PIL' python3-pil
    need tesseract tesseract-ocr
    # The gauges' hydrographs and page checked as XML and HTML.
    need xmllint libxml2-utils
    # The NetCDF file as GIS tools place it (GDAL) and as xarray reads its
    # times (with cftime for the 365-day calendar).
    need gdalinfo gdal-bin
    need '/usr/lib/python3/dist-packages/xarray' python3-xarray
    # The files of a term's slices joined by NCO's ncrcat.
    need ncrcat nco
    # And as QGIS places it and reads its dates, through its Python
    # (about 140 packages, installed in under a minute).
    need '/usr/lib/python3/dist-packages/qgis' python3-qgis
    # The cluster recipes run for real: a one-node Slurm cluster with munge,
    # and GNU parallel over ssh to an sshd of the test's own.
    need slurmctld slurmctld
    need slurmd slurmd
    need sbatch slurm-client
    need munged munge
    need parallel parallel
    need ssh openssh-client
    need /usr/sbin/sshd openssh-server
fi

if [ "$tier" = ci ]; then
    # GoogleTest's sources, built for each cross target.
    need /usr/src/googletest googletest
    # The fuzzers: clang with libFuzzer.
    need clang++-14 clang-14
    need '/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' libclang-rt-14-dev
    # The packages and Debian's checker of them.
    need dpkg-shlibdeps dpkg-dev
    need lintian lintian
    # The README's recipes for looking at the images.
    need pnmtopng netpbm
    need identify imagemagick
    # The cross compilers and the emulators that run their programs.
    need i686-w64-mingw32-g++-posix g++-mingw-w64-i686
    need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64
    need aarch64-linux-gnu-g++ g++-aarch64-linux-gnu
    need s390x-linux-gnu-g++ g++-s390x-linux-gnu
    need qemu-aarch64 qemu-user
    need wine wine
    need /usr/lib/wine/wine64 wine64
    # zlib for the Windows programs, linked statically.
    need /usr/i686-w64-mingw32/lib/libz.a libz-mingw-w64-dev
    need /usr/x86_64-w64-mingw32/lib/libz.a libz-mingw-w64-dev
    if [ ! -x /usr/lib/wine/wine ]; then
        missing+=(wine32:i386)
    fi
fi

# Each package once, in the order first wanted.
declare -A seen=()
packages=()
for package in "${missing[@]}"; do
    if [ -z "${seen[$package]:-}" ]; then
        seen[$package]=1
        packages+=("$package")
    fi
done

# How apt-get is run: as root, through sudo, or not at all.
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi
can_install() {
    command -v apt-get >/dev/null || return 1
    [ ${#as_root[@]} -eq 0 ] || command -v sudo >/dev/null
}

# The foreign architectures that CI's packages and cross libraries come
# from: i386 for wine's 32-bit loader, arm64 and s390x for zlib.
foreign=()
if [ "$tier" = ci ]; then
    [ -x /usr/lib/wine/wine ] || foreign+=(i386)
    for target in arm64:aarch64-linux-gnu s390x:s390x-linux-gnu; do
        [ -f "/usr/local/${target#*:}/lib/libz.a" ] || foreign+=("${target%%:*}")
    done
fi

if [ ${#packages[@]} -eq 0 ] && [ ${#foreign[@]} -eq 0 ]; then
    echo "install_dependencies: every package that '$tier' needs is installed."
else
    if ! can_install; then
        echo "install_dependencies: these Debian packages are missing: ${packages[*]}" >&2
        echo "Install them as root with:" >&2
        echo "    apt-get install -y ${packages[*]}" >&2
        exit 1
    fi
    for arch in "${foreign[@]}"; do
        dpkg --print-foreign-architectures | grep -qx "$arch" ||
            "${as_root[@]}" dpkg --add-architecture "$arch"
    done
    echo "install_dependencies: installing ${packages[*]:-nothing but cross libraries}"
    if ! "${as_root[@]}" apt-get update; then
        echo "install_dependencies: apt-get update failed; trying with the package lists there are" >&2
    fi
    export DEBIAN_FRONTEND=noninteractive
    if [ ${#packages[@]} -gt 0 ] &&
        ! "${as_root[@]}" apt-get install -y "${packages[@]}"; then
        # One package that cannot be had must not keep the others out.
        unavailable=()
        for package in "${packages[@]}"; do
            "${as_root[@]}" apt-get install -y "$package" ||
                unavailable+=("$package")
        done
        if [ ${#unavailable[@]} -gt 0 ]; then
            echo "install_dependencies: could not install ${unavailable[*]}:" \
                "what needs them is left out of the build, or its tests skipped." >&2
        fi
    fi
fi

# Debian has no cross package of zlib for arm64 and s390x that can always be
# installed beside the build machine's (the two must be of one version, and
# Debian 12's security updates come for some architectures only): its static
# library and headers are unpacked from that architecture's package into
# /usr/local/<triple>, where cmake/linux-cross.cmake looks for them. Linked
# statically, the programs need no more under qemu-user than the cross
# compiler's own libraries. The cross builds also compile netCDF from
# Debian's source package, which fetch_netcdf_source.sh unpacks once.
if [ "$tier" = ci ]; then
    for target in arm64:aarch64-linux-gnu s390x:s390x-linux-gnu; do
        arch=${target%%:*} triple=${target#*:}
        [ -f "/usr/local/$triple/lib/libz.a" ] && continue
        unpacked=$(mktemp -d)
        (cd "$unpacked" && apt-get download "zlib1g-dev:$arch")
        dpkg-deb -x "$unpacked"/zlib1g-dev_*_"$arch".deb "$unpacked/root"
        "${as_root[@]}" install -D -m 644 -t "/usr/local/$triple/include" \
            "$unpacked/root/usr/include/zlib.h" "$unpacked/root/usr/include/zconf.h"
        "${as_root[@]}" install -D -m 644 -t "/usr/local/$triple/lib" \
            "$unpacked/root/usr/lib/$triple/libz.a"
        rm -rf "$unpacked"
    done
    tools/fetch_netcdf_source.sh
    tools/fetch_giflib_source.sh
fi

# Without these nothing builds at all.
for command in cmake g++ make; do
    if ! command -v "$command" >/dev/null; then
        echo "install_dependencies: $command is needed to build, and could not be installed." >&2
        exit 1
    fi
done
