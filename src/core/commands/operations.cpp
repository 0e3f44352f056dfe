// Every family's operations in one list: the order of qel-batch's help.
#include <algorithm>
#include <stdexcept>

#include "core/ops/operation.h"

namespace qel {

const std::vector<const Operation*>& operations() {
    static const std::vector<const Operation*> all = [] {
        std::vector<const Operation*> list;
        for (const auto* family : {&pictureOperations(), &colourOperations(), &lineartOperations(), &exprOperations(),
                                   &geometryOperations()})
            for (const Operation& op : *family) list.push_back(&op);
        return list;
    }();
    return all;
}

const Operation* findOperation(const std::string& name) {
    for (const Operation* op : operations())
        if (name == op->name) return op;
    return nullptr;
}

int commandOf(const Operation& op) {
    if (op.command != 0) return op.command;
    const auto& all = operations();
    return kFirstOwnCommand + int(std::find(all.begin(), all.end(), &op) - all.begin());
}

const Operation* operationForCommand(int id) {
    if (id == 0) return nullptr;
    for (const Operation* op : operations())
        if (commandOf(*op) == id) return op;
    return nullptr;
}

const OperationField& fieldOf(int id, std::string_view name) {
    if (const Operation* op = operationForCommand(id))
        for (const OperationField& f : op->arg.fields)
            if (name == f.name) return f;
    throw std::logic_error("command " + std::to_string(id) + " declares no field " + std::string(name));
}

}  // namespace qel
