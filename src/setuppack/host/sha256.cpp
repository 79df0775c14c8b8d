#include "setuppack/host/sha256.hpp"

#include <openssl/evp.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "setuppack/host/errors.hpp"

namespace {

struct DigestContext {
  DigestContext() : context(EVP_MD_CTX_new()) {
    if (context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1)
      throw std::runtime_error("OpenSSL cannot compute SHA-256");
  }
  ~DigestContext() { EVP_MD_CTX_free(context); }
  DigestContext(const DigestContext&) = delete;
  DigestContext& operator=(const DigestContext&) = delete;

  void Update(const void* data, std::size_t size) {
    if (size != 0 && EVP_DigestUpdate(context, data, size) != 1)
      throw std::runtime_error("OpenSSL cannot compute SHA-256");
  }
  std::string Hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, digest, &length) != 1)
      throw std::runtime_error("OpenSSL cannot compute SHA-256");
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
      text += kDigits[digest[i] >> 4];
      text += kDigits[digest[i] & 15];
    }
    return text;
  }

  EVP_MD_CTX* context;
};

}  // namespace

std::string Sha256OfBytes(std::span<const std::uint8_t> bytes) {
  DigestContext digest;
  digest.Update(bytes.data(), bytes.size());
  return digest.Hex();
}

std::string Sha256OfFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path.string() + ": cannot be read");
  DigestContext digest;
  std::vector<char> block(1 << 16);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    digest.Update(block.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw InputError(path.string() + ": cannot be read");
  return digest.Hex();
}
