// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/Ast.h"
#include "server/engine/Object.h"
#include "server/engine/ScriptError.h"

#include <QByteArray>
#include <QDeadlineTimer>

#include <unordered_map>
#include <vector>

namespace asp {

// Thrown by Response.End and Response.Redirect: the page stops, what it wrote is sent.
struct PageEnd {};

// What the Err object shows.
struct ErrState {
    long number = 0;
    QString source;
    QString description;
    void clear() { *this = ErrState(); }
};

class Interpreter;

// An object of a class the page declares. Its members run in the interpreter of the page that
// made it; once that page has ended it answers nothing.
class ClassInstance final : public Object, public std::enable_shared_from_this<ClassInstance> {
public:
    ClassInstance(const ClassDef& def, Interpreter& interpreter, std::weak_ptr<bool> pageRunning)
        : def(def)
        , m_interpreter(interpreter)
        , m_pageRunning(std::move(pageRunning))
    {
    }
    ~ClassInstance() override;
    QString typeName() const override { return def.spelling; }
    Value get(const QString& name, const Args& args) override;
    void set(const QString& name, const Args& args, const Value& value) override;
    // Whether its members run in this interpreter, whose page is still running, so they may
    // take the caller's variables ByRef.
    bool runsIn(const Interpreter& interpreter) const
    {
        const auto running = m_pageRunning.lock();
        return running && *running && &m_interpreter == &interpreter;
    }

    const ClassDef& def;
    std::unordered_map<QString, Value> fields;
    bool terminated = false; // Class_Terminate has run or is running

private:
    Interpreter& m_interpreter;
    std::weak_ptr<bool> m_pageRunning;
};

// Runs one parsed page for one request, walking its tree. The program is shared by every
// request running the page; everything that changes lives here.
class Interpreter {
public:
    Interpreter(const Program& program, QByteArray& output);
    ~Interpreter();
    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;

    // A built-in object such as Response, before run(); only a name the page uses is defined.
    bool uses(const QString& name) const { return m_program.pageSlots.count(name) > 0; }
    void define(const QString& name, Value value);
    void setDeadline(QDeadlineTimer deadline) { m_deadline = deadline; }
    QDeadlineTimer deadline() const { return m_deadline; }

    // Throws ScriptError with its file and line, or PageEnd.
    void run();
    // Response.End and Redirect: nothing more of the page runs.
    void endPage();

    ErrState& err() { return m_err; }

    // What a page's object does when it is used: its member read, called or assigned.
    Value memberGet(ClassInstance& self, const QString& name, const Args& args);
    void memberSet(ClassInstance& self, const QString& name, const Args& args, const Value& value);
    // An object no longer referenced: its Class_Terminate runs after the current statement.
    void released(const ClassDef& def, std::unordered_map<QString, Value> fields);

private:
    enum class Flow { Normal, ExitDo, ExitFor, ExitProcedure, End };

    // Keeps an array alive and its size locked while one of its elements is a procedure's
    // ByRef parameter, even if the variable is given another array meanwhile.
    class ArrayLock {
    public:
        explicit ArrayLock(std::shared_ptr<Array> array)
            : m_array(std::move(array))
        {
            ++m_array->locks;
        }
        ArrayLock(ArrayLock&& other) noexcept = default;
        ArrayLock& operator=(ArrayLock&&) = delete;
        ~ArrayLock()
        {
            if (m_array)
                --m_array->locks;
        }

    private:
        std::shared_ptr<Array> m_array;
    };

    // A name's variable in a frame, numbered when the page was parsed.
    struct Slot {
        Value value;
        Value* ref = nullptr; // a ByRef parameter: the caller's variable
        bool live = false;    // the frame has a variable of this name (declared, assigned, a parameter)
        bool constant = false;
    };
    struct Frame {
        const Procedure* procedure = nullptr;
        std::vector<Slot> variables; // as many as the procedure (or page) has names; never resized
        bool resumeNext = false;
        ClassInstance* self = nullptr; // in a class's member
        std::vector<ArrayLock> pinned; // arrays whose elements were passed ByRef
    };
    struct Released {
        const ClassDef* def;
        std::unordered_map<QString, Value> fields;
    };

    // The values of one call's arguments, in a vector the interpreter keeps for the next call:
    // a page makes thousands of calls, each of which would allocate one otherwise.
    class CallArgs {
    public:
        explicit CallArgs(Interpreter& owner);
        CallArgs(CallArgs&& other) noexcept;
        ~CallArgs();
        CallArgs(const CallArgs&) = delete;
        CallArgs& operator=(const CallArgs&) = delete;
        CallArgs& operator=(CallArgs&&) = delete;

        operator const Args&() const { return m_values; }
        Args& values() { return m_values; }
        Args::const_iterator begin() const { return m_values.begin(); }
        Args::const_iterator end() const { return m_values.end(); }

    private:
        Interpreter* m_owner;
        Args m_values;
    };

    Flow execBlock(const Block& block);
    // Under On Error Resume Next: notes the error in Err and answers that the page goes on.
    bool resumed(const ScriptError& e);
    Flow exec(const Stmt& s);
    Flow execIf(const Stmt& s);
    Flow execDo(const Stmt& s);
    Flow execFor(const Stmt& s);
    Flow execForEach(const Stmt& s);
    Flow execSelect(const Stmt& s);
    void execDim(const Stmt& s);
    void assign(const Expr& target, const Value& value, bool isSet);

    Value eval(const Expr& e);
    // `plain`: only the value of obj(args) is wanted, as an operand that is made plain at once.
    Value evalName(const Expr& e, bool plain = false);
    // What an operand stands for as a plain value, when nothing is evaluated between the
    // operand and its being made plain: obj(args) then asks the object for that value alone.
    Value evalPlain(const Expr& e);
    Value evalMember(const Expr& e);
    Value evalBinary(const Expr& e);
    Value indexInto(const Value& callee, const Args& args, const QString& spelling, bool plain = false);
    CallArgs evalArgs(const std::vector<ExprPtr>& args);
    bool isHard(const Expr& e) const;
    bool condition(const Expr& e);

    Value callProcedure(const Procedure& procedure, const std::vector<ExprPtr>& args, const QString& spelling,
                        ClassInstance* self = nullptr);
    // With values already computed, as an object's members are called.
    Value invoke(const Procedure& procedure, ClassInstance* self, const Args& args, const QString& spelling);
    Value runProcedure(const Procedure& procedure, Frame& frame);
    void enterFrame(const Procedure& procedure, Frame& frame);
    Value newObject(const Expr& e);
    void runTerminators(bool unwinding);
    Value* findFrameVariable(const NameSlots& at, const QString& name);
    const Procedure* memberProcedure(const ClassInstance& self, const QString& name, bool inside) const;
    void execErase(const Stmt& s);
    // ReDim and Erase of an array that may not change its size.
    static void refuseResize(const Array& array, const QString& spelling);
    void defineConstants(Frame& frame, const std::vector<Constant>& constants);
    // The slot of a name in the running procedure's frame, when the name is written there.
    Slot* frameSlot(const NameSlots& at) const;
    Value* findVariable(const NameSlots& at, const QString& name);
    Value* variableForWrite(const NameSlots& at, const QString& name, const QString& spelling);
    // A variable of that name in the running frame, made now.
    Value* newVariable(const NameSlots& at);
    bool isConstant(const NameSlots& at) const;
    void tick();

    const Program& m_program;
    QByteArray& m_output;
    Frame m_page;
    Frame* m_frame = &m_page;
    int m_depth = 0;
    unsigned m_ticks = 0;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};
    ErrState m_err;
    std::vector<Value> m_with; // the objects of the With blocks being run, innermost last
    std::vector<Released> m_released;
    std::shared_ptr<bool> m_running = std::make_shared<bool>(true);
    // A call that is a statement of its own, and the member call being made: an End made by
    // that very call ends the page through the flow of statements, without unwinding.
    const Expr* m_wholeCall = nullptr;
    const Expr* m_calling = nullptr;
    bool m_ended = false;
    std::vector<Args> m_spareArgs; // emptied, keeping their room
};

} // namespace asp
