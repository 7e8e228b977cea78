// curlload: libcurl is loaded the first time the FTP client calls into it, not when the process
// starts. Linked in, it and the libraries it pulls in (TLS, Kerberos, LDAP, SSH, ...) are
// mapped and initialised at every start, which costs more than the rest of the program's own
// start-up, although most runs never transfer a file. These are libcurl's own entry points,
// each handing its call on to the loaded library; the FTP client calls them as usual.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include <dlfcn.h>

namespace {

// libcurl's binary interface has kept this name since 2006. KALVENOR_LIBCURL, read at the
// first load, names another library in its place (the tests name one that is not there).
const char *libraryName()
{
    const char *name = std::getenv("KALVENOR_LIBCURL");
    return name && *name ? name : "libcurl.so.4";
}

void *library()
{
    static void *const handle = [] {
        const char *name = libraryName();
        void *h = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (!h) std::fprintf(stderr, "Kan ikke laste %s: %s\n", name, ::dlerror());
        return h;
    }();
    return handle;
}

template <class Function> Function *entry(const char *name)
{
    void *h = library();
    return h ? reinterpret_cast<Function *>(::dlsym(h, name)) : nullptr;
}

// Each entry is looked up once, on its first call.
#define KALVENOR_CURL_ENTRY(name) static auto *const real = entry<decltype(::name)>(#name)

} // namespace

CURLcode curl_global_init(long flags)
{
    KALVENOR_CURL_ENTRY(curl_global_init);
    return real ? real(flags) : CURLE_FAILED_INIT;
}

CURL *curl_easy_init()
{
    KALVENOR_CURL_ENTRY(curl_easy_init);
    return real ? real() : nullptr;
}

void curl_easy_reset(CURL *curl)
{
    KALVENOR_CURL_ENTRY(curl_easy_reset);
    if (real) real(curl);
}

void curl_easy_cleanup(CURL *curl)
{
    KALVENOR_CURL_ENTRY(curl_easy_cleanup);
    if (real) real(curl);
}

CURLcode curl_easy_perform(CURL *curl)
{
    KALVENOR_CURL_ENTRY(curl_easy_perform);
    return real ? real(curl) : CURLE_FAILED_INIT;
}

const char *curl_easy_strerror(CURLcode code)
{
    KALVENOR_CURL_ENTRY(curl_easy_strerror);
    return real ? real(code) : "libcurl kunne ikke lastes";
}

// An option's number tells the type of its one value, as libcurl itself reads it.
CURLcode curl_easy_setopt(CURL *curl, CURLoption option, ...)
{
    KALVENOR_CURL_ENTRY(curl_easy_setopt);
    if (!real) return CURLE_FAILED_INIT;
    va_list args;
    va_start(args, option);
    CURLcode result;
    if (option < CURLOPTTYPE_OBJECTPOINT)
        result = real(curl, option, va_arg(args, long));
    else if (option < CURLOPTTYPE_FUNCTIONPOINT)
        result = real(curl, option, va_arg(args, void *));
    else if (option < CURLOPTTYPE_OFF_T)
        result = real(curl, option, va_arg(args, void (*)()));
    else if (option < CURLOPTTYPE_BLOB)
        result = real(curl, option, va_arg(args, curl_off_t));
    else
        result = real(curl, option, va_arg(args, void *));
    va_end(args);
    return result;
}

// Every kind of information is given back through a pointer.
CURLcode curl_easy_getinfo(CURL *curl, CURLINFO info, ...)
{
    KALVENOR_CURL_ENTRY(curl_easy_getinfo);
    if (!real) return CURLE_FAILED_INIT;
    va_list args;
    va_start(args, info);
    const CURLcode result = real(curl, info, va_arg(args, void *));
    va_end(args);
    return result;
}

CURLU *curl_url()
{
    KALVENOR_CURL_ENTRY(curl_url);
    return real ? real() : nullptr;
}

void curl_url_cleanup(CURLU *url)
{
    KALVENOR_CURL_ENTRY(curl_url_cleanup);
    if (real) real(url);
}

CURLUcode curl_url_set(CURLU *url, CURLUPart part, const char *content, unsigned int flags)
{
    KALVENOR_CURL_ENTRY(curl_url_set);
    return real ? real(url, part, content, flags) : CURLUE_OUT_OF_MEMORY;
}

CURLM *curl_multi_init()
{
    KALVENOR_CURL_ENTRY(curl_multi_init);
    return real ? real() : nullptr;
}

CURLMcode curl_multi_cleanup(CURLM *multi)
{
    KALVENOR_CURL_ENTRY(curl_multi_cleanup);
    return real ? real(multi) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_add_handle(CURLM *multi, CURL *curl)
{
    KALVENOR_CURL_ENTRY(curl_multi_add_handle);
    return real ? real(multi, curl) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_remove_handle(CURLM *multi, CURL *curl)
{
    KALVENOR_CURL_ENTRY(curl_multi_remove_handle);
    return real ? real(multi, curl) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_perform(CURLM *multi, int *running)
{
    KALVENOR_CURL_ENTRY(curl_multi_perform);
    return real ? real(multi, running) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_fdset(CURLM *multi, fd_set *read, fd_set *write, fd_set *except, int *highest)
{
    KALVENOR_CURL_ENTRY(curl_multi_fdset);
    return real ? real(multi, read, write, except, highest) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_poll(CURLM *multi, struct curl_waitfd *extra, unsigned int extras,
                          int timeoutMs, int *events)
{
    KALVENOR_CURL_ENTRY(curl_multi_poll);
    return real ? real(multi, extra, extras, timeoutMs, events) : CURLM_BAD_HANDLE;
}

CURLMsg *curl_multi_info_read(CURLM *multi, int *left)
{
    KALVENOR_CURL_ENTRY(curl_multi_info_read);
    return real ? real(multi, left) : nullptr;
}
