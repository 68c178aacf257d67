#include "maplist.h"

#include "io.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::size_t hugepage = std::size_t{2} << 20;

std::uint64_t mix(std::uint64_t a, std::uint64_t b)
{
    __extension__ using u128 = unsigned __int128;
    const u128 r = static_cast<u128>(a) * b;
    return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}

std::uint64_t load8(const char* p)
{
    std::uint64_t w = 0;
    std::memcpy(&w, p, 8);
    return w;
}

std::uint64_t load4(const char* p)
{
    std::uint32_t w = 0;
    std::memcpy(&w, p, 4);
    return w;
}

// Thirty-two bytes a step in two independent lanes, each step one wide
// multiplication per lane. The last bytes are read as whole words that may
// overlap bytes already read, so no read goes past the key, and the only
// branch that depends on the key's length beyond its first 32 bytes is the
// loop's.
std::uint64_t hashof(std::string_view s)
{
    constexpr std::uint64_t k0 = 0xa0761d6478bd642f;
    constexpr std::uint64_t k1 = 0xe7037ed1a0b428db;
    constexpr std::uint64_t k2 = 0x8ebc6af09c88c6e3;
    const char* p = s.data();
    const std::size_t n = s.size();
    std::uint64_t h = k0 ^ n;
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    if (n > 16) {
        const char* end = p + n;
        if (n > 32) {
            std::uint64_t h2 = h ^ k2;
            do {
                h = mix(load8(p) ^ k1, load8(p + 8) ^ h);
                h2 = mix(load8(p + 16) ^ k2, load8(p + 24) ^ h2);
                p += 32;
            } while (end - p > 32);
            h ^= h2;
            p = end - 32;
        }
        // The last thirty-two bytes, or all from sixteen up.
        h = mix(load8(p) ^ k1, load8(p + 8) ^ h);
        a = load8(end - 16);
        b = load8(end - 8);
    } else if (n >= 4) {
        const std::size_t half = (n >> 3) << 2;  // 0 below 8 bytes, else 4
        a = load4(p) << 32 | load4(p + half);
        b = load4(p + n - 4) << 32 | load4(p + n - 4 - half);
    } else if (n > 0) {
        a = std::uint64_t{static_cast<unsigned char>(p[0])} << 16 |
            std::uint64_t{static_cast<unsigned char>(p[n >> 1])} << 8 | static_cast<unsigned char>(p[n - 1]);
    }
    return mix(mix(a ^ k1, b ^ h) ^ k0, s.size() ^ k1);
}

// Starts fetching the cache line ahead bytes past p. A prefetch past the end
// of a text is harmless, but a pointer may not be moved there, so the
// address is counted as an integer.
void prefetchpast(const void* p, std::uintptr_t ahead)
{
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(p) + ahead;
    __builtin_prefetch(reinterpret_cast<const void*>(at));  // NOLINT(performance-no-int-to-ptr)
}

// Splits a trimmed module list into its tokens: single blanks separate them,
// double quotes enclose a token that holds blanks, and text right before an
// opening quote is dropped. Blanks that only separate tokens make no record;
// an empty quoted token does.
void splitmodules(maptable& t, std::string_view name, std::uint64_t hash, std::string_view list)
{
    std::size_t n = 0;
    while (n < list.size()) {
        std::size_t p = n;
        while (p < list.size() && list[p] != ' ' && list[p] != '"')
            ++p;
        if (p == list.size())
            break;
        const bool quoted = list[p] == '"';
        if (quoted) {
            n = p + 1;
            p = list.find('"', n);
            if (p == std::string_view::npos)
                break;  // an unclosed quote takes the rest of the list
        }
        const std::string_view module = trim(list.substr(n, p - n));
        if (quoted || !module.empty())
            t.add(name, module, hash);
        n = p + 1;
    }
    if (n < list.size())
        t.add(name, trim(list.substr(n)), hash);
}

// Where the first W bytes at p hold blanks, quotes and the other spaces
// that trim drops (tab to carriage return): bit i for byte i. The byte loop
// stands in for SSE2 on other processors; PCIANNOTATE_PORTABLE chooses it
// here too, for the tests.
struct listmarks {
    std::uint64_t blanks;
    std::uint64_t quotes;
    std::uint64_t spaces;
};

template <int W> listmarks listmarksof(const char* p)
{
    listmarks m{0, 0, 0};
#if defined(__SSE2__) && !defined(PCIANNOTATE_PORTABLE)
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i four = _mm_set1_epi8(4);
    const auto bits = [](__m128i eq, int i) {
        return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(eq))} << i;
    };
    for (int i = 0; i < W; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i fromtab = _mm_sub_epi8(v, tab);  // 0 to 4 for the five
        m.blanks |= bits(_mm_cmpeq_epi8(v, blank), i);
        m.quotes |= bits(_mm_cmpeq_epi8(v, quote), i);
        m.spaces |= bits(_mm_cmpeq_epi8(_mm_min_epu8(fromtab, four), fromtab), i);
    }
#else
    for (int i = 0; i < W; ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        m.blanks |= std::uint64_t{c == ' '} << i;
        m.quotes |= std::uint64_t{c == '"'} << i;
        m.spaces |= std::uint64_t{c >= '\t' && c <= '\r'} << i;
    }
#endif
    return m;
}

// splitmodules for a list of at most 64 bytes without spaces other than
// blanks, whose blanks and quotes are given as bits. A token between blanks
// then needs no trimming, and the next blank or quote is one instruction
// away.
void splitmodules(maptable& t, std::string_view name, std::uint64_t hash, std::string_view list, std::uint64_t blanks,
                  std::uint64_t quotes)
{
    const std::uint64_t stops = blanks | quotes;
    std::size_t n = 0;
    while (n < list.size()) {
        const std::uint64_t ahead = stops >> n;
        if (ahead == 0)
            break;
        std::size_t p = n + static_cast<std::size_t>(__builtin_ctzll(ahead));
        if ((quotes >> p & 1) != 0) {
            n = p + 1;
            const std::uint64_t close = n < 64 ? quotes >> n : 0;
            if (close == 0)
                break;  // an unclosed quote takes the rest of the list
            p = n + static_cast<std::size_t>(__builtin_ctzll(close));
            t.add(name, trim(list.substr(n, p - n)), hash);
        } else if (p > n) {
            t.add(name, list.substr(n, p - n), hash);
        }
        n = p + 1;
    }
    if (n < list.size())
        t.add(name, trim(list.substr(n)), hash);
}

// Adds the records of one list line: the name is before the bar, the
// modules after it up to eol. The text goes on to end; the bytes after a
// short list are read with it, and then ignored.
void addline(maptable& t, const char* line, const char* bar, const char* eol, const char* end)
{
    const std::string_view name = trim({line, static_cast<std::size_t>(bar - line)});
    const std::string_view list = trim({bar + 1, static_cast<std::size_t>(eol - bar - 1)});
    if (list.empty())
        return;
    const std::uint64_t hash = hashof(name);
    const auto room = static_cast<std::size_t>(end - list.data());
    listmarks m{};
    if (list.size() <= 32 && room >= 32) {
        m = listmarksof<32>(list.data());
    } else if (list.size() <= 64 && room >= 64) {
        m = listmarksof<64>(list.data());
    } else {
        splitmodules(t, name, hash, list);
        return;
    }
    const std::uint64_t own = list.size() == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << list.size()) - 1;
    if ((m.spaces & own) != 0)
        splitmodules(t, name, hash, list);
    else
        splitmodules(t, name, hash, list, m.blanks & own, m.quotes & own);
}

// Adds the records of a list text that the table keeps.
void parse(maptable& t, const char* p, const char* end)
{
    while (p < end) {
        // A file's pages need not follow each other in memory, and the
        // hardware does not fetch ahead across them.
        prefetchpast(p, 4096);
        prefetchpast(p, 4096 + 64);
        const auto* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* eol = nl != nullptr ? nl : end;

        // The last bar separates; bars before it belong to the name.
        const auto* bar = static_cast<const char*>(::memrchr(p, '|', static_cast<std::size_t>(eol - p)));
        if (bar != nullptr)
            addline(t, p, bar, eol, end);
        p = eol == end ? end : eol + 1;
    }
}

}  // namespace

void* bigblock(std::size_t n, std::size_t size)
{
    if (n > static_cast<std::size_t>(-1) / size / 2)
        throw std::bad_alloc();  // vectors refuse such sizes before they ask
    std::size_t bytes = n * size;
    void* p = nullptr;
    if (bytes >= hugepage) {
        bytes = (bytes + hugepage - 1) / hugepage * hugepage;
        p = std::aligned_alloc(hugepage, bytes);
        if (p != nullptr)
            ::madvise(p, bytes, MADV_HUGEPAGE);  // only advice: it may fail harmlessly
    } else {
        p = std::malloc(bytes);
    }
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void freeblock(void* p)
{
    std::free(p);
}

void readmap(maptable& t, std::string_view list)
{
    auto& text = t.keep();
    text.assign(list.begin(), list.end());
    parse(t, text.data(), text.data() + text.size());
}

bool readmap(maptable& t, int fd)
{
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular && st.st_size > 0) {
        // Mapped, the list costs neither a copy nor fresh memory.
        const std::string_view text = t.keep(fd, static_cast<std::size_t>(st.st_size));
        if (!text.empty()) {
            parse(t, text.data(), text.data() + text.size());
            return true;
        }
    }
    // Otherwise a regular file is read in one go; one byte more shows its end.
    auto& text = t.keep();
    text.resize(regular ? static_cast<std::size_t>(st.st_size) + 1 : 65536);
    std::size_t len = 0;
    for (;;) {
        if (len == text.size())
            text.resize(2 * text.size());
        const long got = readfd(fd, text.data() + len, text.size() - len);
        if (got < 0) {
            text.clear();
            return false;
        }
        if (got == 0)
            break;
        len += static_cast<std::size_t>(got);
    }
    text.resize(len);
    parse(t, text.data(), text.data() + len);
    return true;
}

maptable::text::~text()
{
    if (mapped != nullptr)
        ::munmap(mapped, size);
}

std::string_view maptable::keep(int fd, std::size_t size)
{
    text& t = texts.emplace_back();
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
        texts.pop_back();
        return {};
    }
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    t.mapped = p;
    t.size = (size + page - 1) / page * page;
    return {static_cast<const char*>(p), size};
}

std::size_t maptable::textof(const void* p) const
{
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const text& t = texts[i];
        const auto from = reinterpret_cast<std::uintptr_t>(t.mapped != nullptr ? t.mapped : t.copy.data());
        const std::size_t size = t.mapped != nullptr ? t.size : t.copy.size();
        if (at >= from && at - from < size)
            return i;
    }
    return none;
}

void maptable::index()
{
    const std::size_t n = map.size();
    // Indices and hashes are 32 bits; memory runs out long before they do,
    // so no test reaches this.
    if (n > std::size_t{3} << 30)
        throw std::bad_alloc();
    // No more names than records: the table stays at most three quarters full.
    std::size_t size = 16;
    while (3 * size < 4 * n)
        size *= 2;
    slots.assign(size, slot{});
    // The records indexed before have their links where their hashes were.
    for (std::size_t i = 0; i < indexed; ++i)
        next[i] = static_cast<std::uint32_t>(hashof(map[i].name));

    // Each record goes to the front of its name's chain, so the records are
    // taken last first, each hash read before the link takes its place. The
    // slots of the names some records ahead are fetched while the current
    // one is inserted: with many names, the waits for memory otherwise cost
    // more than all the rest of loading.
    constexpr std::size_t ahead = 16;
    const std::size_t mask = size - 1;
    std::size_t at = 0;  // the slot of the record after i
    for (std::size_t i = n; i-- > 0;) {
        if (i >= ahead)
            __builtin_prefetch(&slots[next[i - ahead] & mask]);
        const std::uint32_t nhash = next[i];
        // The tokens of one line share its name's text, and so its slot.
        const std::string_view name = map[i].name;
        if (i + 1 == n || name.data() != map[i + 1].name.data() || name.size() != map[i + 1].name.size())
            at = locate(name, nhash);
        slot& s = slots[at];
        next[i] = s.head;
        s = {nhash, static_cast<std::uint32_t>(i), name.data()};
    }
    indexed = n;
}

void maptable::add(std::string_view name, std::string_view module, std::uint64_t nhash)
{
    next.push_back(static_cast<std::uint32_t>(nhash));
    map.push_back({name, module});
}

std::size_t maptable::find(std::string_view key, std::uint64_t hash) const
{
    if (indexed != map.size())
        throw std::logic_error("lookup in a table not indexed");
    if (slots.empty())
        return none;
    const std::uint32_t head = slots[locate(key, hash)].head;
    return head == empty ? none : head;
}

std::uint64_t maptable::hash(std::string_view key)
{
    return hashof(key);
}

void maptable::prefetch(std::uint64_t hash) const
{
    if (!slots.empty())
        __builtin_prefetch(&slots[hash & (slots.size() - 1)]);
}

// Only the name's first slot: a name that had to go further is found later.
void maptable::warm(std::uint64_t hash) const
{
    if (slots.empty())
        return;
    const slot& s = slots[hash & (slots.size() - 1)];
    if (s.head != empty) {
        __builtin_prefetch(&map[s.head]);
        __builtin_prefetch(&next[s.head]);
        // The name and the module that follows it on its line.
        for (std::uintptr_t line = 0; line < 192; line += 64)
            prefetchpast(s.name, line);
    }
}

// The slot that holds key, or the free slot where it would go.
std::size_t maptable::locate(std::string_view key, std::uint64_t hash) const
{
    const auto tag = static_cast<std::uint32_t>(hash);
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const slot& s = slots[i];
        if (s.head == empty || (s.tag == tag && map[s.head].name.size() == key.size() &&
                                (key.empty() || std::memcmp(s.name, key.data(), key.size()) == 0)))
            return i;
    }
}
