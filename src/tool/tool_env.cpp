#include "tool/tool_env.h"

#include <cctype>
#include <cstring>

#include "platform/platform.h"

namespace {

// Whole names: what the CGI servers set, and what a Windows server adds
// (UNENCODED_URL and CACHE_URL carry the query, ?pwd= included).
constexpr const char* kDropped[] = {
    "BOT_PASSWORD", "QUERY_STRING", "PATH_INFO", "PATH_TRANSLATED", "AUTH_TYPE",
    "GATEWAY_INTERFACE", "HTTPS", "UNIQUE_ID", "UNENCODED_URL", "CACHE_URL", "URL", "AUTH_USER",
    "AUTH_PASSWORD", "LOGON_USER", "UNMAPPED_REMOTE_USER", "INSTANCE_ID", "INSTANCE_META_PATH",
    "APPL_MD_PATH", "APPL_PHYSICAL_PATH", "LOCAL_ADDR", "HTTPS_KEYSIZE", "HTTPS_SECRETKEYSIZE",
    "HTTPS_SERVER_ISSUER", "HTTPS_SERVER_SUBJECT",
    // Every header at once, where a Windows server hands them on.
    "ALL_HTTP", "ALL_RAW"};

// Beginnings of names: REQUEST_URI carries the node password as ?pwd=. The
// TLS session's SSL_* go, but not the operator's SSL_CERT_FILE and SSL_CERT_DIR.
constexpr const char* kDroppedPrefixes[] = {
    "HTTP_",        "REDIRECT_",  "REQUEST_",     "SCRIPT_",      "REMOTE_",     "CONTENT_",
    "SERVER_",      "DOCUMENT_",  "CONTEXT_",     "CERT_",        "SSL_CLIENT_", "SSL_SERVER_",
    "SSL_SESSION_", "SSL_CIPHER", "SSL_PROTOCOL", "SSL_VERSION_", "SSL_TLS_",    "SSL_SRP_"};

bool same(char a, char b) {
  if (!kEnvNamesIgnoreCase) return a == b;
  return toupper(static_cast<unsigned char>(a)) == toupper(static_cast<unsigned char>(b));
}

// Whether name (len bytes) starts with word.
bool starts_with(const char* name, size_t len, const char* word) {
  size_t n = strlen(word);
  if (n > len) return false;
  for (size_t i = 0; i < n; i++)
    if (!same(name[i], word[i])) return false;
  return true;
}

}  // namespace

bool reaches_tools(const char* entry) {
  const char* eq = strchr(entry, '=');
  // Windows keeps its per-drive folders as "=C:=C:\\..."; their name is "=C:".
  if (eq == entry) eq = strchr(entry + 1, '=');
  size_t len = eq != nullptr ? static_cast<size_t>(eq - entry) : strlen(entry);
  for (const char* word : kDropped)
    if (strlen(word) == len && starts_with(entry, len, word)) return false;
  for (const char* prefix : kDroppedPrefixes)
    if (starts_with(entry, len, prefix)) return false;
  return true;
}
