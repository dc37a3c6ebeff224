// A named group of theme objects ("CustomThemeObject" of the style list). Members are looked
// up by name and loaded on their first lookup; the group owns them.
#pragma once

#include "Theme/KPThemeObject.h"

#include <map>
#include <memory>

class KPCustomThemeObject : public KPThemeObject {
public:
    using KPThemeObject::KPThemeObject;

    // Adds or replaces the member of that name.
    void addSubThemeObject(std::unique_ptr<KPThemeObject> object, const QString& name);

    // The member, loaded, or nullptr for an unknown name.
    KPThemeObject* themeObjectWithName(const QString& name) const;
    template <class T>
    T* themeObjectWithName(const QString& name) const
    {
        return dynamic_cast<T*>(themeObjectWithName(name));
    }

    // Every member by name, not loaded: callers call load() before reading one.
    std::map<QString, KPThemeObject*> themeDescObject() const;

private:
    std::map<QString, std::unique_ptr<KPThemeObject>> m_members;
};
