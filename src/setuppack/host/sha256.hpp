// SHA-256 of bytes and of files, through OpenSSL's EVP digests, as lower-case
// hexadecimal text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

std::string Sha256OfBytes(std::span<const std::uint8_t> bytes);
// Reads the file in blocks. Throws InputError when it cannot be read.
std::string Sha256OfFile(const std::filesystem::path& path);
