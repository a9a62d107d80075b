# Installs the Debian packages named in "$@" that are missing (sourced by run.sh and test.sh).
install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

BUILD_PACKAGES=(qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libgl-dev cmake ninja-build g++
    fonts-dejavu-core zlib1g-dev libheif-dev)
