// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/Interpreter.h"

#include "server/engine/Builtins.h"
#include "server/engine/PageText.h"
#include "server/engine/ScriptError.h"

#include <typeinfo>
#include <utility>

namespace asp {

namespace {

constexpr int maxCallDepth = 200;

ScriptError illegalAssignment(const QString& name)
{
    return runtimeError(501, QStringLiteral("非法赋值: '") + name + u'\'');
}

// The objects know their members in lower case; the page's reader knows them as written.
ScriptError renamed(ScriptError e, const QString& spelling)
{
    if (e.number == 438 && !e.located())
        e.description = QStringLiteral("对象不支持此属性或方法: '") + spelling + u'\'';
    return e;
}

} // namespace

Interpreter::Interpreter(const Program& program, QByteArray& output)
    : m_program(program)
    , m_output(output)
{
    m_page.variables.resize(program.names.size());
    for (int slot : program.globalSlots)
        m_page.variables[size_t(slot)].live = true;
}

Interpreter::~Interpreter() { *m_running = false; }

ClassInstance::~ClassInstance()
{
    if (!terminated && m_pageRunning.lock() && *m_pageRunning.lock())
        m_interpreter.released(def, std::move(fields));
}

Value ClassInstance::get(const QString& name, const Args& args)
{
    if (!m_pageRunning.lock() || !*m_pageRunning.lock())
        throw unsupported(QStringLiteral("的用法：在网页结束后使用 Class 的对象"));
    return m_interpreter.memberGet(*this, name, args);
}

void ClassInstance::set(const QString& name, const Args& args, const Value& value)
{
    if (!m_pageRunning.lock() || !*m_pageRunning.lock())
        throw unsupported(QStringLiteral("的用法：在网页结束后使用 Class 的对象"));
    m_interpreter.memberSet(*this, name, args, value);
}

void Interpreter::released(const ClassDef& def, std::unordered_map<QString, Value> fields)
{
    m_released.push_back({&def, std::move(fields)});
}

void Interpreter::runTerminators(bool unwinding)
{
    while (!m_released.empty()) {
        Released r = std::move(m_released.front());
        m_released.erase(m_released.begin());
        const auto it = r.def->methods.find(QStringLiteral("class_terminate"));
        if (it == r.def->methods.end())
            continue;
        auto self = std::make_shared<ClassInstance>(*r.def, *this, m_running);
        self->fields = std::move(r.fields);
        self->terminated = true;
        if (!unwinding) {
            invoke(*it->second, self.get(), {}, it->second->spelling);
            continue;
        }
        try {
            invoke(*it->second, self.get(), {}, it->second->spelling);
        } catch (...) {
        }
    }
}

void Interpreter::define(const QString& name, Value value)
{
    const auto it = m_program.pageSlots.find(name);
    if (it == m_program.pageSlots.end())
        return; // the page never names it
    Slot& slot = m_page.variables[size_t(it->second)];
    slot.value = std::move(value);
    slot.live = true;
    slot.constant = true;
}

void Interpreter::run()
{
    // The page's variables go when it ends, so the objects in them see Class_Terminate.
    auto release = [this](bool unwinding) {
        m_with.clear();
        std::vector<Value> values;
        for (Slot& slot : m_page.variables) {
            if (slot.live && !slot.constant)
                values.push_back(std::move(slot.value));
        }
        values.clear();
        runTerminators(unwinding);
    };
    try {
        defineConstants(m_page, m_program.constants);
        if (execBlock(m_program.body) == Flow::End) {
            release(true);
            return;
        }
    } catch (const PageEnd&) {
        release(true);
        throw;
    } catch (...) {
        release(true);
        throw;
    }
    release(false);
}

void Interpreter::endPage()
{
    m_ended = true;
    // Anywhere but as a statement of its own, what was being evaluated around it must not go on.
    if (!m_calling || m_calling != m_wholeCall)
        throw PageEnd();
}

void Interpreter::defineConstants(Frame& frame, const std::vector<Constant>& constants)
{
    for (const Constant& c : constants) {
        Slot& slot = frame.variables[size_t(c.slot)];
        slot.value = eval(*c.value).copied();
        slot.live = true;
        slot.constant = true;
    }
}

void Interpreter::tick()
{
    if ((++m_ticks & 255) == 0 && m_deadline.hasExpired())
        throw limitReached(QStringLiteral("脚本超时：网页运行的时间太长"));
}

Interpreter::Flow Interpreter::execBlock(const Block& block)
{
    for (const auto& s : block) {
        try {
            const Flow flow = exec(*s);
            if (flow == Flow::End)
                return flow; // objects let go of now end with the page's
            if (!m_released.empty())
                runTerminators(false);
            if (flow != Flow::Normal)
                return flow;
        } catch (ScriptError& e) {
            if (!e.located()) {
                e.file = m_program.files[s->file];
                e.line = s->line;
            }
            if (!resumed(e))
                throw;
        }
    }
    return Flow::Normal;
}

bool Interpreter::resumed(const ScriptError& e)
{
    if (!m_frame->resumeNext || e.kind != ScriptError::Kind::Runtime)
        return false;
    m_err.number = e.number;
    const QString windows = e.source == vbscriptRuntime ? errDescriptionOf(e.number) : QString();
    m_err.source = windows.isEmpty() ? e.source : errSourceOfVbscript;
    m_err.description = windows.isEmpty() ? e.description : windows;
    return true;
}

Interpreter::Flow Interpreter::exec(const Stmt& s)
{
    switch (s.kind) {
    case Stmt::Kind::Html: {
        const QByteArray& block = m_program.html[size_t(s.html)];
        if (m_output.size() + block.size() > maxPageOutput)
            throw limitReached(QStringLiteral("网页输出超过 64 MB"));
        m_output += block;
        return Flow::Normal;
    }
    case Stmt::Kind::Write:
        appendValue(m_output, evalPlain(*s.target));
        return Flow::Normal;
    case Stmt::Kind::Dim:
    case Stmt::Kind::ReDim:
        execDim(s);
        return Flow::Normal;
    case Stmt::Kind::Assign:
        assign(*s.target, evalPlain(*s.value), false); // made plain before anything else
        return Flow::Normal;
    case Stmt::Kind::Set:
        assign(*s.target, eval(*s.value), true);
        return Flow::Normal;
    case Stmt::Kind::Call:
        m_wholeCall = s.target.get();
        eval(*s.target);
        m_wholeCall = nullptr;
        return m_ended ? Flow::End : Flow::Normal;
    case Stmt::Kind::If:
        return execIf(s);
    case Stmt::Kind::Do:
        return execDo(s);
    case Stmt::Kind::For:
        return execFor(s);
    case Stmt::Kind::ForEach:
        return execForEach(s);
    case Stmt::Kind::Select:
        return execSelect(s);
    case Stmt::Kind::Exit:
        switch (s.exit) {
        case Stmt::Exit::Do:
            return Flow::ExitDo;
        case Stmt::Exit::For:
            return Flow::ExitFor;
        default:
            return Flow::ExitProcedure;
        }
    case Stmt::Kind::OnError:
        m_frame->resumeNext = s.resumeNext;
        m_err.clear();
        return Flow::Normal;
    case Stmt::Kind::With: {
        Value object = eval(*s.value);
        if (!object.isObject() || !object.object())
            throw objectRequired(s.value->spelling);
        m_with.push_back(std::move(object));
        struct Pop {
            std::vector<Value>& with;
            size_t depth;
            ~Pop() { with.resize(depth); }
        } pop{m_with, m_with.size() - 1};
        return execBlock(s.body);
    }
    case Stmt::Kind::Erase:
        execErase(s);
        return Flow::Normal;
    }
    return Flow::Normal;
}

bool Interpreter::condition(const Expr& e)
{
    const Value v = evalPlain(e);
    return !v.isNull() && v.toBool();
}

Interpreter::Flow Interpreter::execIf(const Stmt& s)
{
    for (const Branch& branch : s.branches) {
        bool taken;
        try {
            taken = condition(*branch.conditions.front());
        } catch (ScriptError& e) {
            // VBScript goes on into the Then part when its condition failed.
            if (!resumed(e))
                throw;
            taken = true;
        }
        if (taken)
            return execBlock(branch.body);
    }
    return s.hasElse ? execBlock(s.elseBody) : Flow::Normal;
}

Interpreter::Flow Interpreter::execDo(const Stmt& s)
{
    auto goesOn = [&] { return !s.condition || condition(*s.condition) != s.until; };
    for (;;) {
        tick();
        if (!s.testAtEnd && !goesOn())
            return Flow::Normal;
        const Flow flow = execBlock(s.body);
        if (flow == Flow::ExitDo)
            return Flow::Normal;
        if (flow != Flow::Normal)
            return flow;
        if (s.testAtEnd && !goesOn())
            return Flow::Normal;
    }
}

Interpreter::Flow Interpreter::execFor(const Stmt& s)
{
    // Bounds given as texts count as numbers: For i = "1" To "2" runs twice.
    auto number = [](const Value& v) { return v.isString() ? Value::fromDouble(v.toDouble()) : v; };
    const Value start = number(scalar(eval(*s.from)));
    const double end = scalar(eval(*s.to)).toDouble();
    const Value step = s.step ? number(scalar(eval(*s.step))) : Value::fromInteger(1);
    const double stepSize = step.toDouble();
    start.toDouble(); // a counter that is no number fails here, as in VBScript
    Value* counter = variableForWrite(s.at, s.variable, s.variableSpelling);
    *counter = start;
    for (;;) {
        tick();
        const double current = counter->toDouble();
        if (stepSize >= 0 ? current > end : current < end)
            return Flow::Normal;
        const Flow flow = execBlock(s.body);
        if (flow == Flow::ExitFor)
            return Flow::Normal;
        if (flow != Flow::Normal)
            return flow;
        counter = variableForWrite(s.at, s.variable, s.variableSpelling);
        *counter = add(*counter, step);
    }
}

Interpreter::Flow Interpreter::execForEach(const Stmt& s)
{
    const Value collection = eval(*s.from);
    std::vector<Value> items;
    if (collection.isArray())
        items = collection.array()->items;
    else if (collection.isObject() && collection.object())
        items = collection.object()->items();
    else
        throw runtimeError(451, QStringLiteral("对象不是集合"));
    for (const Value& item : items) {
        tick();
        *variableForWrite(s.at, s.variable, s.variableSpelling) = item.copied();
        const Flow flow = execBlock(s.body);
        if (flow == Flow::ExitFor)
            return Flow::Normal;
        if (flow != Flow::Normal)
            return flow;
    }
    return Flow::Normal;
}

Interpreter::Flow Interpreter::execSelect(const Stmt& s)
{
    const Value test = scalar(eval(*s.condition));
    const bool testHard = isHard(*s.condition);
    for (const Branch& branch : s.branches) {
        for (const ExprPtr& c : branch.conditions) {
            if (compare(test, testHard, scalar(eval(*c)), isHard(*c)) == 0)
                return execBlock(branch.body);
        }
    }
    return s.hasElse ? execBlock(s.elseBody) : Flow::Normal;
}

void Interpreter::execDim(const Stmt& s)
{
    for (const DimItem& item : s.dims) {
        if (!item.isArray)
            continue;
        std::vector<int> bounds;
        for (const ExprPtr& b : item.bounds)
            bounds.push_back(scalar(eval(*b)).toLong());
        // ReDim declares what it does not find, even under Option Explicit.
        if (s.kind == Stmt::Kind::ReDim && !isConstant(item.at) && !findVariable(item.at, item.name))
            newVariable(item.at);
        Value* slot = variableForWrite(item.at, item.name, item.spelling);
        if (s.kind == Stmt::Kind::Dim && slot->isArray())
            continue;
        if (s.kind == Stmt::Kind::ReDim && slot->isArray() && slot->array())
            refuseResize(*slot->array(), item.spelling);
        auto array = Array::make(bounds);
        array->fixed = s.kind == Stmt::Kind::Dim && !item.bounds.empty();
        if (s.preserve && slot->isArray() && slot->array() && !slot->array()->upper.empty()) {
            // Only the last dimension may change; the elements are kept in an order where
            // that keeps each of them in its place.
            const Array& old = *slot->array();
            if (old.upper.size() != bounds.size())
                throw subscriptOutOfRange();
            if (old.upper.size() > 1 && !std::equal(old.upper.begin(), old.upper.end() - 1, bounds.begin()))
                throw subscriptOutOfRange();
            const size_t n = std::min(old.items.size(), array->items.size());
            std::copy(old.items.begin(), old.items.begin() + qsizetype(n), array->items.begin());
        }
        *slot = Value::fromArray(std::move(array));
    }
}

void Interpreter::execErase(const Stmt& s)
{
    Value* slot = findVariable(s.at, s.variable);
    if (!slot || !slot->isArray() || !slot->array())
        throw typeMismatch(QStringLiteral("Erase"));
    const Array& old = *slot->array();
    if (old.locks > 0)
        refuseResize(old, s.variableSpelling);
    // A fixed array keeps its size with every element emptied; a dynamic one has none left.
    auto fresh = Array::make(old.fixed ? old.upper : std::vector<int>{});
    fresh->fixed = old.fixed;
    *slot = Value::fromArray(std::move(fresh));
}

void Interpreter::refuseResize(const Array& array, const QString& spelling)
{
    if (array.fixed || array.locks > 0)
        throw runtimeError(10, QStringLiteral("该数组为定长的或临时被锁定: '") + spelling + u'\'');
}

Interpreter::Slot* Interpreter::frameSlot(const NameSlots& at) const
{
    // Names are numbered per procedure: a number means something only in a frame of the
    // procedure the name is written in.
    if (m_frame == &m_page || at.scope != m_frame->procedure || at.local < 0)
        return nullptr;
    return &m_frame->variables[size_t(at.local)];
}

bool Interpreter::isConstant(const NameSlots& at) const
{
    if (const Slot* slot = m_frame == &m_page ? &m_page.variables[size_t(at.page)] : frameSlot(at)) {
        if (slot->constant)
            return true;
        if (slot->live || slot->ref)
            return false;
    }
    return m_page.variables[size_t(at.page)].constant;
}

Value* Interpreter::findFrameVariable(const NameSlots& at, const QString& name)
{
    if (m_frame == &m_page)
        return nullptr;
    if (Slot* slot = frameSlot(at)) {
        if (slot->ref)
            return slot->ref;
        if (slot->live)
            return &slot->value;
    }
    if (m_frame->self) {
        if (auto f = m_frame->self->fields.find(name); f != m_frame->self->fields.end())
            return &f->second;
    }
    return nullptr;
}

Value* Interpreter::findVariable(const NameSlots& at, const QString& name)
{
    if (Value* v = findFrameVariable(at, name))
        return v;
    if (Slot& global = m_page.variables[size_t(at.page)]; global.live)
        return &global.value;
    return nullptr;
}

Value* Interpreter::newVariable(const NameSlots& at)
{
    Slot* slot = frameSlot(at);
    if (!slot)
        slot = &m_page.variables[size_t(at.page)];
    slot->live = true;
    return &slot->value;
}

Value* Interpreter::variableForWrite(const NameSlots& at, const QString& name, const QString& spelling)
{
    if (isConstant(at))
        throw illegalAssignment(spelling);
    if (Value* v = findVariable(at, name))
        return v;
    if (isUnsupportedName(name))
        throw unsupported(QStringLiteral("的函数或对象：") + spelling);
    if (m_program.optionExplicit)
        throw undefinedVariable(spelling);
    if (at.procedure || at.builtin)
        throw illegalAssignment(spelling);
    return newVariable(at);
}

void Interpreter::assign(const Expr& target, const Value& value, bool isSet)
{
    Value stored;
    if (isSet) {
        if (!value.isObject())
            throw objectRequired(target.spelling);
        stored = value;
    } else {
        stored = value.isObject() ? scalar(value) : value.copied();
    }

    switch (target.kind) {
    case Expr::Kind::Name: {
        if (m_frame->self && !findFrameVariable(target.at, target.name)
            && (m_frame->self->def.letters.count(target.name)
                || m_frame->self->def.setters.count(target.name))) {
            memberSet(*m_frame->self, target.name, evalArgs(target.args), stored);
            return;
        }
        if (!target.hasArgs || target.args.empty()) {
            *variableForWrite(target.at, target.name, target.spelling) = std::move(stored);
            return;
        }
        Value* slot = findVariable(target.at, target.name);
        if (!slot && isUnsupportedName(target.name))
            throw unsupported(QStringLiteral("的函数或对象：") + target.spelling);
        if (!slot)
            throw m_program.optionExplicit ? undefinedVariable(target.spelling)
                                           : typeMismatch(target.spelling);
        const CallArgs args = evalArgs(target.args);
        if (slot->isArray()) {
            std::vector<qint32> indexes;
            for (const Value& a : args)
                indexes.push_back(a.toLong());
            *slot->array()->at(indexes) = std::move(stored);
            return;
        }
        if (slot->isObject() && slot->object()) {
            slot->object()->set(QString(), args, stored);
            return;
        }
        throw typeMismatch(target.spelling);
    }
    case Expr::Kind::Member: {
        const Value base = target.base->kind == Expr::Kind::Me && m_frame->self
                               ? Value::fromObject(m_frame->self->shared_from_this())
                               : eval(*target.base);
        if (!base.isObject() || !base.object())
            throw objectRequired(target.base->spelling);
        const CallArgs args = evalArgs(target.args);
        try {
            base.object()->set(target.name, args, stored);
        } catch (ScriptError& e) {
            throw renamed(std::move(e), target.spelling);
        }
        return;
    }
    default:
        throw syntaxError(1002, QStringLiteral("赋值的左边不是变量"));
    }
}

bool Interpreter::isHard(const Expr& e) const
{
    if (e.kind == Expr::Kind::Literal)
        return e.hard;
    if (e.kind == Expr::Kind::Name && !e.hasArgs) {
        if (const Slot* slot = frameSlot(e.at); slot && slot->constant)
            return true;
        return m_page.variables[size_t(e.at.page)].constant || e.at.constant;
    }
    return false;
}

Interpreter::CallArgs::CallArgs(Interpreter& owner)
    : m_owner(&owner)
{
    if (!owner.m_spareArgs.empty()) {
        m_values = std::move(owner.m_spareArgs.back());
        owner.m_spareArgs.pop_back();
    }
}

Interpreter::CallArgs::CallArgs(CallArgs&& other) noexcept
    : m_owner(std::exchange(other.m_owner, nullptr))
    , m_values(std::move(other.m_values))
{
}

Interpreter::CallArgs::~CallArgs()
{
    if (!m_owner)
        return;
    m_values.clear();
    if (m_owner->m_spareArgs.size() < 32)
        m_owner->m_spareArgs.push_back(std::move(m_values));
}

Interpreter::CallArgs Interpreter::evalArgs(const std::vector<ExprPtr>& args)
{
    CallArgs values(*this);
    values.values().reserve(args.size());
    for (const ExprPtr& a : args)
        values.values().push_back(eval(*a));
    return values;
}

Value Interpreter::eval(const Expr& e)
{
    switch (e.kind) {
    case Expr::Kind::Literal:
        return e.value;
    case Expr::Kind::Name:
        return evalName(e);
    case Expr::Kind::Member:
        return evalMember(e);
    case Expr::Kind::Call:
        return indexInto(eval(*e.base), evalArgs(e.args), e.base->spelling);
    case Expr::Kind::Paren:
        return eval(*e.base);
    case Expr::Kind::Unary: {
        const Value v = eval(*e.base);
        return e.op == Op::Neg ? negate(v) : logicalNot(v);
    }
    case Expr::Kind::Binary:
        return evalBinary(e);
    case Expr::Kind::Is: {
        const Value a = eval(*e.base), b = eval(*e.rhs);
        if (!a.isObject() || !b.isObject())
            throw objectRequired();
        return Value::fromBool(a.object() == b.object());
    }
    case Expr::Kind::With:
        return m_with.back();
    case Expr::Kind::Me:
        if (!m_frame->self)
            throw objectRequired(QStringLiteral("Me"));
        return Value::fromObject(m_frame->self->shared_from_this());
    case Expr::Kind::New:
        return newObject(e);
    }
    return {};
}

Value Interpreter::evalPlain(const Expr& e)
{
    if (e.kind == Expr::Kind::Name && e.hasArgs && !e.args.empty())
        return scalar(evalName(e, true));
    return scalar(eval(e));
}

Value Interpreter::evalBinary(const Expr& e)
{
    // Every operator makes its operands plain, the left then the right, once both are
    // evaluated: beside a literal, whose evaluation nothing can notice, an operand may be made
    // plain as it is evaluated.
    const bool plainLeft = e.rhs->kind == Expr::Kind::Literal;
    const bool plainRight = e.base->kind == Expr::Kind::Literal;
    const Value a = plainLeft ? evalPlain(*e.base) : eval(*e.base);
    const Value b = plainRight ? evalPlain(*e.rhs) : eval(*e.rhs);
    switch (e.op) {
    case Op::Add:
        return add(a, b);
    case Op::Sub:
        return subtract(a, b);
    case Op::Mul:
        return multiply(a, b);
    case Op::Div:
        return divide(a, b);
    case Op::IntDiv:
        return integerDivide(a, b);
    case Op::Mod:
        return modulo(a, b);
    case Op::Pow:
        return power(a, b);
    case Op::Concat:
        return concatenate(a, b);
    case Op::And:
        return logicalAnd(a, b);
    case Op::Or:
        return logicalOr(a, b);
    case Op::Xor:
        return logicalXor(a, b);
    case Op::Eqv:
        return logicalNot(logicalXor(a, b));
    case Op::Imp:
        return logicalOr(logicalNot(a), b);
    default:
        break;
    }
    const auto c = compare(a, isHard(*e.base), b, isHard(*e.rhs));
    if (!c)
        return Value::null();
    switch (e.op) {
    case Op::Eq:
        return Value::fromBool(*c == 0);
    case Op::Ne:
        return Value::fromBool(*c != 0);
    case Op::Lt:
        return Value::fromBool(*c < 0);
    case Op::Gt:
        return Value::fromBool(*c > 0);
    case Op::Le:
        return Value::fromBool(*c <= 0);
    default:
        return Value::fromBool(*c >= 0);
    }
}

Value Interpreter::indexInto(const Value& callee, const Args& args, const QString& spelling, bool plain)
{
    if (callee.isArray()) {
        std::vector<qint32> indexes;
        for (const Value& a : args)
            indexes.push_back(a.toLong());
        return *callee.array()->at(indexes);
    }
    if (callee.isObject()) {
        if (!callee.object())
            throw runtimeError(91, QStringLiteral("对象变量未设置: '") + spelling + u'\'');
        return plain ? callee.object()->value(args) : callee.object()->get(QString(), args);
    }
    if (args.empty())
        return callee;
    throw typeMismatch(spelling);
}

Value Interpreter::evalName(const Expr& e, bool plain)
{
    const bool recursion = e.hasArgs && m_frame->procedure && m_frame->procedure->name == e.name;
    if (!recursion) {
        if (const Value* v = findFrameVariable(e.at, e.name)) {
            if (!e.hasArgs)
                return *v;
            return indexInto(*v, evalArgs(e.args), e.spelling, plain);
        }
    }
    // Inside a class its own members come before the page's names.
    if (m_frame->self) {
        if (const Procedure* p = memberProcedure(*m_frame->self, e.name, true))
            return callProcedure(*p, e.args, e.spelling, m_frame->self);
    }
    if (!recursion) {
        if (const Slot& global = m_page.variables[size_t(e.at.page)]; global.live) {
            if (!e.hasArgs)
                return global.value;
            return indexInto(global.value, evalArgs(e.args), e.spelling, plain);
        }
    }
    if (e.at.procedure)
        return callProcedure(*e.at.procedure, e.args, e.spelling);
    if (const Builtin* b = e.at.builtin) {
        // A left-out argument at the end is as if not written; one that a function needs is
        // an error, as VBScript answers.
        size_t count = e.args.size();
        while (count > 0 && e.args[count - 1]->omitted)
            --count;
        if (int(count) < b->minArgs || int(count) > b->maxArgs)
            throw wrongArgumentCount(e.spelling);
        for (size_t i = 0; i < size_t(b->minArgs); ++i) {
            if (e.args[i]->omitted)
                throw wrongArgumentCount(e.spelling);
        }
        CallArgs values(*this);
        values.values().reserve(count);
        for (size_t i = 0; i < count; ++i)
            values.values().push_back(eval(*e.args[i]));
        return b->call(values);
    }
    if (const Value* c = e.at.constant) {
        if (e.hasArgs && !e.args.empty())
            throw typeMismatch(e.spelling);
        return *c;
    }
    if (isUnsupportedName(e.name))
        throw unsupported(QStringLiteral("的函数或对象：") + e.spelling);
    if (m_program.optionExplicit)
        throw undefinedVariable(e.spelling);
    if (e.hasArgs && !e.args.empty())
        throw typeMismatch(e.spelling);
    return {};
}

Value Interpreter::evalMember(const Expr& e)
{
    // Me.x reaches the private members too.
    if (e.base->kind == Expr::Kind::Me && m_frame->self) {
        if (const Procedure* p = memberProcedure(*m_frame->self, e.name, true))
            return callProcedure(*p, e.args, e.spelling, m_frame->self);
        if (auto f = m_frame->self->fields.find(e.name); f != m_frame->self->fields.end())
            return e.hasArgs ? indexInto(f->second, evalArgs(e.args), e.spelling) : f->second;
    }
    const Value base = eval(*e.base);
    if (!base.isObject())
        throw objectRequired(e.base->spelling);
    if (!base.object())
        throw runtimeError(91, QStringLiteral("对象变量未设置: '") + e.base->spelling + u'\'');
    // A method of the page's own class takes its arguments as a procedure does, ByRef unless
    // the parameter says ByVal or the argument is in parentheses.
    // Asked of every member call: the exact type is cheaper to tell than a cast through the hierarchy.
    Object& object = *base.object();
    if (auto* instance =
            typeid(object) == typeid(ClassInstance) ? static_cast<ClassInstance*>(&object) : nullptr;
        instance && instance->runsIn(*this)) {
        if (const Procedure* p = memberProcedure(*instance, e.name, false))
            return callProcedure(*p, e.args, e.spelling, instance);
    }
    const CallArgs args = evalArgs(e.args);
    struct Calling {
        const Expr*& calling;
        ~Calling() { calling = nullptr; }
    } calling{m_calling = &e};
    try {
        return base.object()->get(e.name, args);
    } catch (ScriptError& error) {
        throw renamed(std::move(error), e.spelling);
    }
}

Value Interpreter::callProcedure(const Procedure& procedure, const std::vector<ExprPtr>& args,
                                 const QString& spelling, ClassInstance* self)
{
    if (args.size() != procedure.params.size())
        throw wrongArgumentCount(spelling);
    if (m_depth >= maxCallDepth)
        throw limitReached(QStringLiteral("堆栈溢出：过程调用太深"));
    tick();

    Frame frame;
    frame.procedure = &procedure;
    frame.self = self;
    frame.variables.resize(procedure.names.size());
    for (size_t i = 0; i < args.size(); ++i) {
        const Param& param = procedure.params[i];
        Slot& slot = frame.variables[size_t(param.local)];
        const Expr& arg = *args[i];
        if (param.byRef && arg.kind == Expr::Kind::Name && !isConstant(arg.at)) {
            if (!arg.hasArgs) {
                Value* variable = findVariable(arg.at, arg.name);
                if (!variable && !m_program.optionExplicit && !arg.at.procedure && !arg.at.builtin
                    && !arg.at.constant
                    && !(m_frame->self && memberProcedure(*m_frame->self, arg.name, true)))
                    variable = newVariable(arg.at);
                if (variable) {
                    slot.ref = variable;
                    continue;
                }
            } else if (Value* variable = findVariable(arg.at, arg.name);
                       variable && variable->isArray() && !arg.args.empty()) {
                // An element of an array is passed by reference too.
                std::vector<qint32> indexes;
                for (const Value& index : evalArgs(arg.args))
                    indexes.push_back(scalar(index).toLong());
                std::shared_ptr<Array> array = variable->array();
                slot.ref = array->at(indexes);
                frame.pinned.emplace_back(std::move(array));
                continue;
            }
        }
        slot.value = arg.omitted ? Value() : eval(arg).copied();
        slot.live = true;
    }
    return runProcedure(procedure, frame);
}

Value Interpreter::invoke(const Procedure& procedure, ClassInstance* self, const Args& args,
                          const QString& spelling)
{
    if (args.size() != procedure.params.size())
        throw wrongArgumentCount(spelling);
    if (m_depth >= maxCallDepth)
        throw limitReached(QStringLiteral("堆栈溢出：过程调用太深"));
    tick();
    Frame frame;
    frame.procedure = &procedure;
    frame.self = self;
    frame.variables.resize(procedure.names.size());
    for (size_t i = 0; i < args.size(); ++i) {
        Slot& slot = frame.variables[size_t(procedure.params[i].local)];
        slot.value = args[i].copied();
        slot.live = true;
    }
    return runProcedure(procedure, frame);
}

Value Interpreter::runProcedure(const Procedure& procedure, Frame& frame)
{
    for (int local : procedure.localSlots)
        frame.variables[size_t(local)].live = true;
    if (procedure.isFunction)
        frame.variables[size_t(procedure.result)].live = true;

    // The caller's frame comes back however the procedure ends.
    struct Restore {
        Interpreter* self;
        Frame* caller;
        ~Restore()
        {
            self->m_frame = caller;
            --self->m_depth;
        }
    } restore{this, m_frame};
    m_frame = &frame;
    ++m_depth;
    defineConstants(frame, procedure.constants);
    // The caller is in the middle of a statement that must not go on.
    if (execBlock(procedure.body) == Flow::End)
        throw PageEnd();
    if (!procedure.isFunction)
        return {};
    return std::move(frame.variables[size_t(procedure.result)].value);
}

const Procedure* Interpreter::memberProcedure(const ClassInstance& self, const QString& name,
                                              bool inside) const
{
    for (const auto* table : {&self.def.getters, &self.def.methods}) {
        if (auto it = table->find(name); it != table->end() && (inside || it->second->isPublic))
            return it->second.get();
    }
    return nullptr;
}

Value Interpreter::newObject(const Expr& e)
{
    const auto it = m_program.classes.find(e.name);
    if (it == m_program.classes.end())
        throw runtimeError(506, QStringLiteral("未定义类: '") + e.spelling + u'\'');
    const ClassDef& def = *it->second;
    auto object = std::make_shared<ClassInstance>(def, *this, m_running);
    for (const DimItem& field : def.fields) {
        Value& slot = object->fields[field.name];
        if (!field.isArray)
            continue;
        std::vector<int> bounds;
        for (const ExprPtr& b : field.bounds)
            bounds.push_back(scalar(eval(*b)).toLong());
        auto array = Array::make(bounds);
        array->fixed = !field.bounds.empty();
        slot = Value::fromArray(std::move(array));
    }
    if (auto init = def.methods.find(QStringLiteral("class_initialize")); init != def.methods.end())
        invoke(*init->second, object.get(), {}, init->second->spelling);
    return Value::fromObject(std::move(object));
}

Value Interpreter::memberGet(ClassInstance& self, const QString& name, const Args& args)
{
    const QString member = name.isEmpty() ? self.def.defaultMember : name;
    if (member.isEmpty())
        throw noSuchMember(self.def.spelling, QStringLiteral("默认属性"));
    if (const Procedure* p = memberProcedure(self, member, false))
        return invoke(*p, &self, args, self.def.spelling + u'.' + p->spelling);
    for (const DimItem& field : self.def.fields) {
        if (field.name != member || !field.isPublic)
            continue;
        Value& v = self.fields[member];
        return args.empty() ? v : indexInto(v, args, field.spelling);
    }
    throw noSuchMember(self.def.spelling, member);
}

void Interpreter::memberSet(ClassInstance& self, const QString& name, const Args& args, const Value& value)
{
    const QString member = name.isEmpty() ? self.def.defaultMember : name;
    const bool inside = m_frame->self == &self;
    const auto& setters = self.def.setters;
    const auto& letters = self.def.letters;
    const auto setter = setters.find(member);
    const auto letter = letters.find(member);
    const Procedure* property = nullptr;
    if (value.isObject() && setter != setters.end())
        property = setter->second.get();
    else if (letter != letters.end())
        property = letter->second.get();
    else if (setter != setters.end())
        property = setter->second.get();
    if (property && (inside || property->isPublic)) {
        Args all = args;
        all.push_back(value);
        invoke(*property, &self, all, self.def.spelling + u'.' + property->spelling);
        return;
    }
    for (const DimItem& field : self.def.fields) {
        if (field.name != member || !(field.isPublic || inside))
            continue;
        Value& slot = self.fields[member];
        if (args.empty()) {
            slot = value;
            return;
        }
        if (!slot.isArray())
            throw typeMismatch(field.spelling);
        std::vector<qint32> indexes;
        for (const Value& a : args)
            indexes.push_back(scalar(a).toLong());
        *slot.array()->at(indexes) = value;
        return;
    }
    throw noSuchMember(self.def.spelling, member);
}

} // namespace asp
