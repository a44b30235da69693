#include "codesign/ResourceSeal.h"

#include <dirent.h>
#include <regex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "codesign/Source.h"
#include "plist/PropertyListBytes.h"

namespace codesign {

namespace {

// More entries than any real bundle holds; a walk that meets more stops.
constexpr std::size_t kMaxWalkEntries = 1u << 20;

struct Rule {
    std::shared_ptr<regex_t> pattern;
    double weight = 1;
    bool omit = false, optional = false, nested = false;
};

struct Entry {
    std::vector<std::uint8_t> sha1, sha256, cdhash;
    std::optional<std::string> symlink;
    bool optional = false;
};

std::vector<std::uint8_t> dataOf(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_DATA) return {};
    std::uint64_t length = 0;
    const char* data = plist_get_data_ptr(node, &length);
    return data ? std::vector<std::uint8_t>(data, data + length) : std::vector<std::uint8_t>{};
}

bool boolOf(plist_t node) {
    std::uint8_t value = 0;
    if (node && plist_get_node_type(node) == PLIST_BOOLEAN) plist_get_bool_val(node, &value);
    return value != 0;
}

std::string keyOf(plist_dict_iter iter, plist_t dict, plist_t* value) {
    char* key = nullptr;
    plist_dict_next_item(dict, iter, &key, value);
    std::string text = key ? key : "";
    std::free(key);
    return text;
}

std::vector<Rule> parseRules(plist_t rules, std::vector<std::string>& problems) {
    std::vector<Rule> parsed;
    if (!rules || plist_get_node_type(rules) != PLIST_DICT) return parsed;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(rules, &iter);
    for (std::uint32_t i = 0, n = plist_dict_get_size(rules); i < n; ++i) {
        plist_t value = nullptr;
        const std::string pattern = keyOf(iter, rules, &value);
        if (!value) break;
        Rule rule;
        if (plist_get_node_type(value) == PLIST_DICT) {
            rule.omit = boolOf(plist_dict_get_item(value, "omit"));
            rule.optional = boolOf(plist_dict_get_item(value, "optional"));
            rule.nested = boolOf(plist_dict_get_item(value, "nested"));
            if (plist_t weight = plist_dict_get_item(value, "weight")) {
                if (plist_get_node_type(weight) == PLIST_REAL) plist_get_real_val(weight, &rule.weight);
                if (plist_get_node_type(weight) == PLIST_UINT) {
                    std::uint64_t w = 0;
                    plist_get_uint_val(weight, &w);
                    rule.weight = double(w);
                }
            }
        } else if (plist_get_node_type(value) != PLIST_BOOLEAN || !boolOf(value)) {
            continue;
        }
        // Stacked quantifiers ("a+++") make glibc's matcher use memory without
        // bound; no signing tool writes them, so they are refused as invalid.
        bool stacked = false;
        for (std::size_t at = 1; at < pattern.size(); ++at)
            stacked = stacked || (std::strchr("*+?{", pattern[at]) && std::strchr("*+?}", pattern[at - 1]) &&
                                  (at < 2 || pattern[at - 2] != '\\'));
        if (stacked) {
            problems.push_back("resource rule \"" + pattern + "\" is not a valid pattern");
            continue;
        }
        auto compiled = std::shared_ptr<regex_t>(new regex_t, [](regex_t* r) { regfree(r); delete r; });
        if (regcomp(compiled.get(), pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
            compiled.reset(new regex_t, [](regex_t* r) { delete r; });
            problems.push_back("resource rule \"" + pattern + "\" is not a valid pattern");
            continue;
        }
        rule.pattern = std::move(compiled);
        parsed.push_back(std::move(rule));
    }
    std::free(iter);
    return parsed;
}

// The rule of highest weight that matches, or none: then the path is not
// part of the seal.
const Rule* ruleFor(const std::vector<Rule>& rules, const std::string& path) {
    const Rule* best = nullptr;
    for (const Rule& rule : rules)
        if (regexec(rule.pattern.get(), path.c_str(), 0, nullptr, 0) == 0 && (!best || rule.weight > best->weight))
            best = &rule;
    return best;
}

std::map<std::string, Entry> parseFiles(plist_t files) {
    std::map<std::string, Entry> entries;
    if (!files || plist_get_node_type(files) != PLIST_DICT) return entries;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(files, &iter);
    for (std::uint32_t i = 0, n = plist_dict_get_size(files); i < n; ++i) {
        plist_t value = nullptr;
        const std::string path = keyOf(iter, files, &value);
        if (!value) break;
        Entry entry;
        if (plist_get_node_type(value) == PLIST_DATA) {
            entry.sha1 = dataOf(value);
        } else if (plist_get_node_type(value) == PLIST_DICT) {
            entry.sha1 = dataOf(plist_dict_get_item(value, "hash"));
            entry.sha256 = dataOf(plist_dict_get_item(value, "hash2"));
            entry.cdhash = dataOf(plist_dict_get_item(value, "cdhash"));
            entry.optional = boolOf(plist_dict_get_item(value, "optional"));
            plist_t link = plist_dict_get_item(value, "symlink");
            if (link && plist_get_node_type(link) == PLIST_STRING) {
                const char* text = plist_get_string_ptr(link, nullptr);
                entry.symlink = text ? text : "";
            }
        }
        entries.emplace(path, std::move(entry));
    }
    std::free(iter);
    return entries;
}

std::optional<std::vector<std::uint8_t>> fileDigest(const std::string& path, const EVP_MD* md) {
    auto source = FileSource::open(path);
    if (!source) return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) return std::nullopt;
    constexpr std::uint64_t kChunk = 1u << 20;
    for (std::uint64_t at = 0; at < (*source)->size(); at += kChunk) {
        auto bytes = (*source)->read(at, std::min(kChunk, (*source)->size() - at));
        if (!bytes || EVP_DigestUpdate(ctx.get(), bytes->data(), bytes->size()) != 1) return std::nullopt;
    }
    std::vector<std::uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), out.data(), &length) != 1) return std::nullopt;
    out.resize(length);
    return out;
}

class SealCheck {
public:
    SealCheck(const SealSubject& subject, std::map<std::string, Entry> entries, std::vector<Rule> rules)
        : subject_(subject), entries_(std::move(entries)), rules_(std::move(rules)),
          shownRoot_(subject.resourceRoot.substr(std::min(subject.bundleFolder.size(), subject.resourceRoot.size()))) {}

    std::vector<std::string> run() {
        walk("");
        for (const auto& [path, entry] : entries_) {
            if (seen_.count(path) || entry.optional) continue;
            const Rule* rule = ruleFor(rules_, path);
            if (!rule || !rule->optional) problems_.insert(shown(path) + " removed");
        }
        return {problems_.begin(), problems_.end()};
    }

private:
    std::string shown(const std::string& path) const { return shownRoot_ + path; }

    void walk(const std::string& relativeDir) {
        const std::string dirPath = subject_.resourceRoot + relativeDir;
        struct DirCloser {
            void operator()(DIR* d) const { closedir(d); }
        };
        std::unique_ptr<DIR, DirCloser> dir(opendir(dirPath.c_str()));
        if (!dir) {
            problems_.insert(shown(relativeDir) + " cannot be read");
            return;
        }
        std::vector<std::string> names;
        while (dirent* item = readdir(dir.get())) {
            const std::string name = item->d_name;
            if (name == "." || name == "..") continue;
            if (relativeDir.empty() && (name == "_CodeSignature" || name == "CodeResources")) continue;
            names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (++visited_ > kMaxWalkEntries) {
                problems_.insert("the bundle has too many files to check its seal");
                return;
            }
            const std::string relative = relativeDir + name;
            const std::string full = subject_.resourceRoot + relative;
            if (full == subject_.mainExecutable) continue;
            struct stat st {};
            if (::lstat(full.c_str(), &st) != 0) continue;
            const auto listed = entries_.find(relative);
            if (listed != entries_.end()) {
                seen_.insert(relative);
                check(relative, full, st, listed->second);
                continue;
            }
            const Rule* rule = ruleFor(rules_, relative);
            if (S_ISDIR(st.st_mode)) {
                if (rule && rule->nested && !rule->omit && isBundle(full)) {
                    problems_.insert(shown(relative) + " added (nested code not in the seal)");
                    continue;
                }
                walk(relative + "/");
                continue;
            }
            if (rule && !rule->omit) problems_.insert(shown(relative) + " added");
        }
    }

    static bool isBundle(const std::string& path) {
        struct stat st {};
        return ::stat((path + "/Contents/Info.plist").c_str(), &st) == 0 ||
               ::stat((path + "/Versions/Current").c_str(), &st) == 0 || ::stat((path + "/Info.plist").c_str(), &st) == 0;
    }

    void check(const std::string& relative, const std::string& full, const struct stat& st, const Entry& entry) {
        if (entry.symlink) {
            char target[4096];
            const ssize_t length = S_ISLNK(st.st_mode) ? ::readlink(full.c_str(), target, sizeof target) : -1;
            if (length < 0 || std::string(target, std::size_t(length)) != *entry.symlink)
                problems_.insert(shown(relative) + " modified (symbolic link)");
            return;
        }
        if (!entry.cdhash.empty()) {
            NestedCode nested = subject_.verifyNested ? subject_.verifyNested(full) : NestedCode{};
            if (std::find(nested.cdhashes.begin(), nested.cdhashes.end(), entry.cdhash) == nested.cdhashes.end())
                problems_.insert(shown(relative) + " modified (nested code)");
            for (const std::string& problem : nested.problems) problems_.insert(shown(relative) + ": " + problem);
            return;
        }
        if (!S_ISREG(st.st_mode)) {
            problems_.insert(shown(relative) + " modified (no longer a file)");
            return;
        }
        const bool strong = !entry.sha256.empty();
        const auto digest = fileDigest(full, strong ? EVP_sha256() : EVP_sha1());
        if (!digest) {
            problems_.insert(shown(relative) + " cannot be read");
            return;
        }
        if (*digest != (strong ? entry.sha256 : entry.sha1)) problems_.insert(shown(relative) + " modified");
    }

    const SealSubject& subject_;
    std::map<std::string, Entry> entries_;
    std::vector<Rule> rules_;
    std::string shownRoot_;
    std::set<std::string> seen_;
    std::set<std::string> problems_;
    std::size_t visited_ = 0;
};

}  // namespace

std::vector<std::string> checkResourceSeal(const SealSubject& subject, std::span<const std::uint8_t> codeResources) {
    plistbytes::Parsed parsed;
    if (!codeResources.empty() && codeResources.size() < (1u << 30))
        parsed = plistbytes::parsePropertyList(codeResources.data(), codeResources.size());
    plist_t root = parsed.root.get();
    if (!root || plist_get_node_type(root) != PLIST_DICT) return {"_CodeSignature/CodeResources is not a property list"};

    // Version 2 of the seal (files2, rules2) when present, else version 1.
    const bool v2 = plist_dict_get_item(root, "files2") != nullptr;
    std::vector<std::string> problems;
    std::vector<Rule> rules = parseRules(plist_dict_get_item(root, v2 ? "rules2" : "rules"), problems);
    auto entries = parseFiles(plist_dict_get_item(root, v2 ? "files2" : "files"));
    SealCheck check(subject, std::move(entries), std::move(rules));
    for (std::string& problem : check.run()) problems.push_back(std::move(problem));
    return problems;
}

}  // namespace codesign
