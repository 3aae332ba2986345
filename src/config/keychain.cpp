#include "config/keychain.h"

#include <mutex>
#include <utility>

#include "providers/provider_catalogue.h"
#include "support/log.h"
#include "support/text.h"

namespace vurin {

namespace {

std::mutex storeMutex;
std::shared_ptr<SecretStore> installedStore;

std::shared_ptr<SecretStore> currentStore() {
    std::lock_guard lock(storeMutex);
    return installedStore;
}

// Why a read gave nothing. Only the reasons go to the log, never a stored value.
enum class ReadProblem { none, notFound, noService, locked, failure, emptyData, notText };

std::string readProblemLine(std::string_view account, ReadProblem problem,
                            const std::string& detail) {
    const std::string name(account);
    switch (problem) {
        case ReadProblem::notFound:
            return "🔑 Keychain 中没有 " + name + " 的 Key (item not found)";
        case ReadProblem::noService:
            return "⚠️ 读取 " + name +
                   " 的 Key 失败,按未设置处理:无法连接 Secret Service (no service): " + detail;
        case ReadProblem::locked:
            return "⚠️ 读取 " + name + " 的 Key 失败,按未设置处理:钥匙环已锁定 (locked)";
        case ReadProblem::emptyData:
            return "⚠️ Keychain 中 " + name + " 的 Key 为空,按未设置处理";
        case ReadProblem::notText:
            return "⚠️ Keychain 中 " + name + " 的 Key 不是 UTF-8 文本,按未设置处理";
        case ReadProblem::failure:
        case ReadProblem::none:
            break;
    }
    return "⚠️ 读取 " + name + " 的 Key 失败,按未设置处理:" + detail;
}

// Keys are read on every menu rebuild and every dictation; a missing key or a missing keyring
// is logged when it is first seen for an account, not on every read.
std::mutex readProblemMutex;
std::map<std::string, ReadProblem, std::less<>> lastReadProblem;

void noteReadOutcome(std::string_view account, ReadProblem problem, const std::string& detail) {
    {
        std::lock_guard lock(readProblemMutex);
        const auto found = lastReadProblem.find(account);
        const ReadProblem previous =
            found == lastReadProblem.end() ? ReadProblem::none : found->second;
        if (previous == problem) {
            return;
        }
        lastReadProblem[std::string(account)] = problem;
    }
    if (problem != ReadProblem::none) {
        log(readProblemLine(account, problem, detail));
    }
}

ReadProblem problemOf(SecretStatus status) {
    switch (status) {
        case SecretStatus::success:
            return ReadProblem::none;
        case SecretStatus::itemNotFound:
            return ReadProblem::notFound;
        case SecretStatus::noService:
            return ReadProblem::noService;
        case SecretStatus::locked:
            return ReadProblem::locked;
        case SecretStatus::failure:
            break;
    }
    return ReadProblem::failure;
}

std::string describe(const SecretResult& result) {
    switch (result.status) {
        case SecretStatus::noService:
            return "无法连接 Secret Service (no service): " + result.detail;
        case SecretStatus::locked:
            return "钥匙环已锁定 (locked)";
        case SecretStatus::itemNotFound:
            return "item not found";
        case SecretStatus::success:
        case SecretStatus::failure:
            break;
    }
    return result.detail;
}

SecretResult storeValue(SecretStore& store, std::string_view value, std::string_view account) {
    SecretResult result = store.update(Keychain::service, account, value);
    if (result.status == SecretStatus::itemNotFound) {
        result = store.add(Keychain::service, account, value);
    }
    return result;
}

}  // namespace

void installSecretStore(std::shared_ptr<SecretStore> store) {
    {
        std::lock_guard lock(storeMutex);
        installedStore = std::move(store);
    }
    // Another keychain: whatever was wrong with the previous one is news again.
    std::lock_guard lock(readProblemMutex);
    lastReadProblem.clear();
}

namespace Keychain {

bool set(std::string_view value, std::string_view account) {
    // An empty key never replaces a stored one; std::string holds bytes already, so the
    // "conversion to UTF-8" is the check that they are UTF-8.
    if (value.empty() || !isValidUTF8(value)) {
        return false;
    }
    const auto store = currentStore();
    if (!store) {
        log("❌ 保存 " + std::string(account) + " 的 Key 失败:没有可用的 Keychain");
        return false;
    }
    const SecretResult result = storeValue(*store, value, account);
    if (result.status != SecretStatus::success) {
        log("❌ 保存 " + std::string(account) + " 的 Key 失败:" + describe(result));
        return false;
    }
    return true;
}

std::optional<std::string> get(std::string_view account) {
    const auto store = currentStore();
    if (!store) {
        noteReadOutcome(account, ReadProblem::noService, "没有可用的 Keychain");
        return std::nullopt;
    }
    SecretLookup lookup = store->read(service, account);
    ReadProblem problem = problemOf(lookup.status);
    if (problem == ReadProblem::none && lookup.value.empty()) {
        problem = ReadProblem::emptyData;
    } else if (problem == ReadProblem::none && !isValidUTF8(lookup.value)) {
        problem = ReadProblem::notText;
    }
    noteReadOutcome(account, problem, lookup.detail);
    if (problem != ReadProblem::none) {
        return std::nullopt;
    }
    return std::move(lookup.value);
}

void deleteItem(std::string_view account) {
    if (const auto store = currentStore()) {
        store->remove(service, account);
    }
}

}  // namespace Keychain

std::string cloudKey(std::string_view providerId) {
    return Keychain::get(cloudProviderInfo(providerId).keyAccount).value_or(std::string());
}

}  // namespace vurin
