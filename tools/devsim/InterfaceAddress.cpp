#include "InterfaceAddress.h"

#include "Addresses.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <optional>

namespace devsim {

namespace {

// "10.77.0.5/16", or nothing when the address or mask cannot be one.
std::optional<std::string> WithPrefix(const std::string& ip, const std::string& mask)
{
    const auto address = ParseDottedQuad(ip);
    const auto maskValue = ParseDottedQuad(mask);
    if (!address || !maskValue)
        return std::nullopt;
    const auto prefix = PrefixLength(*maskValue);
    if (!prefix)
        return std::nullopt;
    return FormatDottedQuad(*address) + '/' + std::to_string(*prefix);
}

} // namespace

AddressMovePlan PlanAddressMove(const std::string& interfaceName, const AddressChange& change)
{
    AddressMovePlan plan;
    const auto newAddress = WithPrefix(change.newIp, change.newMask);
    if (!newAddress) {
        plan.error = "new address " + change.newIp + " with mask " + change.newMask +
                     " cannot be put on an interface";
        return plan;
    }
    const auto oldAddress = WithPrefix(change.oldIp, change.oldMask);
    if (oldAddress == newAddress)
        return plan;
    // An old value that was never a usable address was never on the interface either.
    if (oldAddress)
        plan.commands.push_back({"addr", "del", *oldAddress, "dev", interfaceName});
    plan.commands.push_back({"addr", "replace", *newAddress, "dev", interfaceName});
    return plan;
}

int RunIp(const std::vector<std::string>& arguments)
{
    // execv wants mutable strings; these copies outlive the child's exec.
    std::string program = "ip";
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv = {program.data()};
    std::transform(copies.begin(), copies.end(), std::back_inserter(argv),
                   [](std::string& argument) { return argument.data(); });
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        // stdout belongs to the "devsim ready" handshake; ip says nothing there anyway.
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
        ::execv("/sbin/ip", argv.data());
        ::execvp("ip", argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void MoveInterfaceAddress(const std::string& interfaceName, const AddressChange& change,
                          JsonLog& log)
{
    const AddressMovePlan plan = PlanAddressMove(interfaceName, change);
    if (!plan.error.empty()) {
        log.Write(JsonLine("interface_error")
                      .Text("interface", interfaceName)
                      .Text("reason", plan.error));
        return;
    }
    for (const auto& arguments : plan.commands) {
        std::string command = "ip";
        for (const std::string& argument : arguments)
            command += ' ' + argument;
        const int status = RunIp(arguments);
        log.Write(JsonLine("interface").Text("command", command).Number("status", status));
    }
}

} // namespace devsim
