# shellcheck shell=sh
# The shipped product, for the scripts that build it and for its tests,
# sourced with ".": the name of its package and of its installer, and its
# release date (2018-05-31 00:00:00 UTC), the time stamp of its files. The
# toolkit (vorlan-mkinstaller and lib.sh) knows nothing of it.
# shellcheck disable=SC2034 # read by the scripts that source this file
{
    PRODUCT_PACKAGE=vorlan-cresta-proxy
    PRODUCT_FILE=vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz
    RELEASE_DATE=@1527724800
}
