/* What liblzma's own build would find out about the compiler and the C
 * library, for its decoder alone: the launcher compiles it from Debian's
 * source package without running its configure script. */
#ifndef VORLAN_XZ_CONFIG_H
#define VORLAN_XZ_CONFIG_H

#define HAVE_CHECK_CRC32 1
#define HAVE_CHECK_CRC64 1
#define HAVE_CHECK_SHA256 1
#define HAVE_INTERNAL_SHA256 1
#define HAVE_DECODERS 1
#define HAVE_DECODER_LZMA1 1
#define HAVE_DECODER_LZMA2 1
#define HAVE_STDBOOL_H 1
#define HAVE__BOOL 1
#define HAVE_STDINT_H 1
#define HAVE_INTTYPES_H 1
#define HAVE_BYTESWAP_H 1
#define HAVE___BUILTIN_BSWAPXX 1
#define HAVE___BUILTIN_ASSUME_ALIGNED 1
#define HAVE_VISIBILITY 1
#define SIZEOF_SIZE_T __SIZEOF_SIZE_T__
#define TUKLIB_SYMBOL_PREFIX lzma_
/* As configure defines it unless --enable-debug: no assertions in the
 * decoder's inner loops. */
#define NDEBUG 1

#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define WORDS_BIGENDIAN 1
#endif
/* GCC runs constructors on every CPU, and brings cpuid.h and immintrin.h
 * for x86: the CRC64 of the stream's check then uses the carry-less multiply
 * of the CPU that has it, chosen at start, as configure would set it up. */
#define HAVE_FUNC_ATTRIBUTE_CONSTRUCTOR 1
#if defined(__i386__) || defined(__x86_64__)
#define HAVE_CPUID_H 1
#define HAVE_IMMINTRIN_H 1
#define HAVE_USABLE_CLMUL 1
#endif
#if defined(__i386__) || defined(__x86_64__) || defined(__aarch64__) || defined(__powerpc64__) || defined(__s390x__)
#define TUKLIB_FAST_UNALIGNED_ACCESS 1
#endif

#endif
