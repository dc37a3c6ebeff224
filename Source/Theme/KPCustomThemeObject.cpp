#include "Theme/KPCustomThemeObject.h"

void KPCustomThemeObject::addSubThemeObject(std::unique_ptr<KPThemeObject> object, const QString& name)
{
    m_members[name] = std::move(object);
}

KPThemeObject* KPCustomThemeObject::themeObjectWithName(const QString& name) const
{
    const auto it = m_members.find(name);
    if (it == m_members.end() || !it->second)
        return nullptr;
    it->second->load();
    return it->second.get();
}

std::map<QString, KPThemeObject*> KPCustomThemeObject::themeDescObject() const
{
    std::map<QString, KPThemeObject*> out;
    for (const auto& [name, object] : m_members)
        out.emplace(name, object.get());
    return out;
}
