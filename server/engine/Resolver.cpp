// SPDX-License-Identifier: GPL-3.0-or-later
// Every name of a parsed page, given its place once: the page's variables and each procedure's
// are numbered, so the evaluator reaches a variable by its number in a frame instead of
// looking its text up in a map at every use (a procedure knows all of its names when it has
// been read, even those it only assigns).
#include "server/engine/Ast.h"
#include "server/engine/Builtins.h"

namespace asp {

namespace {

class Resolver {
public:
    explicit Resolver(Program& program)
        : m_program(program)
    {
    }

    void run()
    {
        for (const QString& name : m_program.globals)
            m_program.globalSlots.push_back(pageSlot(name));
        for (Constant& c : m_program.constants) {
            c.slot = pageSlot(c.name);
            expr(*c.value);
        }
        block(m_program.body);
        for (auto& [name, p] : m_program.procedures)
            procedure(*p);
        for (auto& [name, c] : m_program.classes) {
            // A field's bounds are read when an object is made, wherever that is: page names.
            for (DimItem& field : c->fields) {
                for (ExprPtr& bound : field.bounds)
                    expr(*bound);
            }
            for (auto* members : {&c->methods, &c->getters, &c->letters, &c->setters}) {
                for (auto& [name, p] : *members)
                    procedure(*p);
            }
        }
    }

private:
    int pageSlot(const QString& name)
    {
        const auto [it, added] = m_program.pageSlots.try_emplace(name, int(m_program.names.size()));
        if (added)
            m_program.names.push_back(name);
        return it->second;
    }

    int localSlot(const QString& name)
    {
        const auto [it, added] = m_locals.try_emplace(name, int(m_procedure->names.size()));
        if (added)
            m_procedure->names.push_back(name);
        return it->second;
    }

    NameSlots resolve(const QString& name)
    {
        NameSlots at;
        at.scope = m_procedure;
        at.local = m_procedure ? localSlot(name) : -1;
        at.page = pageSlot(name);
        if (const auto p = m_program.procedures.find(name); p != m_program.procedures.end())
            at.procedure = p->second.get();
        at.builtin = findBuiltin(name);
        at.constant = findConstant(name);
        return at;
    }

    void procedure(Procedure& p)
    {
        m_procedure = &p;
        m_locals.clear();
        for (Param& param : p.params)
            param.local = localSlot(param.name);
        if (p.isFunction)
            p.result = localSlot(p.name);
        for (const QString& name : p.locals)
            p.localSlots.push_back(localSlot(name));
        for (Constant& c : p.constants) {
            c.slot = localSlot(c.name);
            expr(*c.value);
        }
        block(p.body);
        m_procedure = nullptr;
    }

    void block(Block& statements)
    {
        for (auto& s : statements)
            stmt(*s);
    }

    void stmt(Stmt& s)
    {
        for (Expr* e :
             {s.target.get(), s.value.get(), s.condition.get(), s.from.get(), s.to.get(), s.step.get()}) {
            if (e)
                expr(*e);
        }
        for (DimItem& item : s.dims) {
            item.at = resolve(item.name);
            for (ExprPtr& bound : item.bounds)
                expr(*bound);
        }
        for (Branch& branch : s.branches) {
            for (ExprPtr& c : branch.conditions)
                expr(*c);
            block(branch.body);
        }
        if (!s.variable.isEmpty())
            s.at = resolve(s.variable);
        block(s.elseBody);
        block(s.body);
    }

    void expr(Expr& e)
    {
        if (e.kind == Expr::Kind::Name)
            e.at = resolve(e.name);
        for (Expr* part : {e.base.get(), e.rhs.get()}) {
            if (part)
                expr(*part);
        }
        for (ExprPtr& a : e.args)
            expr(*a);
    }

    Program& m_program;
    Procedure* m_procedure = nullptr;
    std::unordered_map<QString, int> m_locals; // of m_procedure
};

} // namespace

void resolveNames(Program& program) { Resolver(program).run(); }

} // namespace asp
