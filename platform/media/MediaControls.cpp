// The media controls over GDBus; the calls arrive in DispatchBusCalls.
#include "MediaControls.h"
#include "SessionBus.h"

#include <gio/gio.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <unistd.h>

namespace {

const char kBusNamePrefix[] = "org.mpris.MediaPlayer2.";
const char kObjectPath[] = "/org/mpris/MediaPlayer2";
const char kRootInterface[] = "org.mpris.MediaPlayer2";
const char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";
const char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";

const char kIntrospection[] = R"(<node>
  <interface name="org.mpris.MediaPlayer2">
    <method name="Raise"/>
    <method name="Quit"/>
    <property name="CanQuit" type="b" access="read"/>
    <property name="CanRaise" type="b" access="read"/>
    <property name="HasTrackList" type="b" access="read"/>
    <property name="Identity" type="s" access="read"/>
    <property name="DesktopEntry" type="s" access="read"/>
    <property name="SupportedUriSchemes" type="as" access="read"/>
    <property name="SupportedMimeTypes" type="as" access="read"/>
  </interface>
  <interface name="org.mpris.MediaPlayer2.Player">
    <method name="Next"/>
    <method name="Previous"/>
    <method name="Pause"/>
    <method name="PlayPause"/>
    <method name="Stop"/>
    <method name="Play"/>
    <method name="Seek">
      <arg direction="in" name="Offset" type="x"/>
    </method>
    <method name="SetPosition">
      <arg direction="in" name="TrackId" type="o"/>
      <arg direction="in" name="Position" type="x"/>
    </method>
    <method name="OpenUri">
      <arg direction="in" name="Uri" type="s"/>
    </method>
    <signal name="Seeked">
      <arg name="Position" type="x"/>
    </signal>
    <property name="PlaybackStatus" type="s" access="read"/>
    <property name="LoopStatus" type="s" access="readwrite"/>
    <property name="Rate" type="d" access="readwrite"/>
    <property name="Metadata" type="a{sv}" access="read"/>
    <property name="Volume" type="d" access="readwrite"/>
    <property name="Position" type="x" access="read">
      <annotation name="org.freedesktop.DBus.Property.EmitsChangedSignal" value="false"/>
    </property>
    <property name="MinimumRate" type="d" access="read"/>
    <property name="MaximumRate" type="d" access="read"/>
    <property name="CanGoNext" type="b" access="read"/>
    <property name="CanGoPrevious" type="b" access="read"/>
    <property name="CanPlay" type="b" access="read"/>
    <property name="CanPause" type="b" access="read"/>
    <property name="CanSeek" type="b" access="read"/>
    <property name="CanControl" type="b" access="read">
      <annotation name="org.freedesktop.DBus.Property.EmitsChangedSignal" value="false"/>
    </property>
  </interface>
</node>)";

// The player's properties whose changes are announced; the others never change.
const char* const kAnnouncedProperties[] = { "PlaybackStatus", "LoopStatus", "Rate", "Volume", "Metadata",
    "CanGoNext", "CanGoPrevious", "CanPlay", "CanPause", "CanSeek" };

const char* const kLoopNames[] = { "None", "Track", "Playlist" };
const char* const kStatusNames[] = { "Stopped", "Playing", "Paused" };

// Strings on the bus must be UTF-8; tags and file names need not be.
GVariant* NewText(const std::string& strText)
{
    gchar* strValid = g_utf8_make_valid(strText.c_str(), static_cast<gssize>(strText.size()));
    GVariant* pText = g_variant_new_string(strValid);
    g_free(strValid);
    return pText;
}

GVariant* NewTextList(const std::vector<std::string>& astrTexts)
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_STRING_ARRAY);
    for (const std::string& strText : astrTexts)
        g_variant_builder_add_value(&builder, NewText(strText));
    return g_variant_builder_end(&builder);
}

GVariant* NoneInvalidated()
{
    return g_variant_new_strv(nullptr, 0);
}

} // namespace

// The connection with the object registered on it and the name owned.
class CMediaBus {
public:
    CMediaBus(IMediaControlsTarget& target, const SMediaIdentity& identity, GDBusConnection* pConnection);
    ~CMediaBus();
    bool IsServing() const { return m_anRegistrations[0] != 0 && m_anRegistrations[1] != 0; }

    void PublishChanges();
    void EmitSeeked(int64_t nPositionUs);

private:
    static void OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar* strInterface,
        const gchar* strMethod, GVariant* pParameters, GDBusMethodInvocation* pInvocation, gpointer pThis);
    static GVariant* OnGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar* strInterface,
        const gchar* strName, GError** ppError, gpointer pThis);
    static gboolean OnSetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar* strInterface,
        const gchar* strName, GVariant* pValue, GError** ppError, gpointer pThis);

    void CallPlayer(const std::string& strMethod, GVariant* pParameters, GDBusMethodInvocation* pInvocation);
    void SetPosition(const char* strTrackId, int64_t nPositionUs);
    void OpenUri(const char* strUri, GDBusMethodInvocation* pInvocation);
    bool SetPlayerProperty(const std::string& strName, GVariant* pValue, GError** ppError);
    GVariant* RootProperty(const std::string& strName) const;
    GVariant* PlayerProperty(const std::string& strName, const SMediaState& state) const;
    GVariant* Metadata(const SMediaState& state) const;
    std::string TrackId(int nTrack) const { return m_strTrackPrefix + std::to_string(nTrack); }
    void Emit(const char* strInterface, const char* strSignal, GVariant* pParameters);
    bool RequestName(const std::string& strName);

    IMediaControlsTarget& m_target;
    SMediaIdentity m_identity;
    std::string m_strTrackPrefix;
    SMediaState m_published;
    GDBusConnection* m_pConnection;
    GDBusNodeInfo* m_pNode = nullptr;
    guint m_anRegistrations[2] = {};
    // The bus name owned, empty when none could be.
    std::string m_strBusName;
};

CMediaBus::CMediaBus(IMediaControlsTarget& target, const SMediaIdentity& identity, GDBusConnection* pConnection)
    : m_target(target)
    , m_identity(identity)
    , m_published(target.GetMediaState())
    , m_pConnection(pConnection)
{
    std::string strLowerName = identity.strName;
    std::transform(strLowerName.begin(), strLowerName.end(), strLowerName.begin(),
        [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    m_strTrackPrefix = "/org/" + strLowerName + "/track/";

    static const GDBusInterfaceVTable vtable = { OnMethodCall, OnGetProperty, OnSetProperty, {} };
    m_pNode = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    for (int i = 0; i < 2; ++i) {
        m_anRegistrations[i] = g_dbus_connection_register_object(
            m_pConnection, kObjectPath, m_pNode->interfaces[i], &vtable, this, nullptr, nullptr);
    }
    // The object stands before the name appears, so whoever sees the name
    // finds it; a name another player holds is not waited for.
    if (IsServing()) {
        const std::string strBusName = kBusNamePrefix + identity.strName;
        for (const std::string& strName : {strBusName, strBusName + ".instance" + std::to_string(::getpid())}) {
            if (RequestName(strName)) {
                m_strBusName = strName;
                break;
            }
        }
    }
}

// True when this connection now owns strName (DBus's RequestName with
// DO_NOT_QUEUE: one already owned by another is refused at once).
bool CMediaBus::RequestName(const std::string& strName)
{
    constexpr guint32 kDoNotQueue = 4;
    constexpr guint32 kPrimaryOwner = 1;
    constexpr int kCallTimeoutMs = 2000;
    GVariant* pReply = g_dbus_connection_call_sync(m_pConnection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
        "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", strName.c_str(), kDoNotQueue),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
    if (!pReply)
        return false;
    guint32 nResult = 0;
    g_variant_get(pReply, "(u)", &nResult);
    g_variant_unref(pReply);
    return nResult == kPrimaryOwner;
}

CMediaBus::~CMediaBus()
{
    if (!m_strBusName.empty()) {
        GVariant* pReply = g_dbus_connection_call_sync(m_pConnection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", "ReleaseName", g_variant_new("(s)", m_strBusName.c_str()), nullptr,
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        if (pReply)
            g_variant_unref(pReply);
    }
    for (guint nRegistration : m_anRegistrations) {
        if (nRegistration != 0)
            g_dbus_connection_unregister_object(m_pConnection, nRegistration);
    }
    g_dbus_connection_flush_sync(m_pConnection, nullptr, nullptr);
    g_dbus_node_info_unref(m_pNode);
    g_object_unref(m_pConnection);
}

void CMediaBus::PublishChanges()
{
    const SMediaState state = m_target.GetMediaState();
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE_VARDICT);
    bool bChanged = false;
    for (const char* strName : kAnnouncedProperties) {
        GVariant* pBefore = g_variant_ref_sink(PlayerProperty(strName, m_published));
        GVariant* pNow = g_variant_ref_sink(PlayerProperty(strName, state));
        if (!g_variant_equal(pBefore, pNow)) {
            g_variant_builder_add(&changed, "{sv}", strName, pNow);
            bChanged = true;
        }
        g_variant_unref(pBefore);
        g_variant_unref(pNow);
    }
    m_published = state;
    GVariant* pChanged = g_variant_ref_sink(g_variant_builder_end(&changed));
    if (bChanged)
        Emit(kPropertiesInterface, "PropertiesChanged",
            g_variant_new("(s@a{sv}@as)", kPlayerInterface, pChanged, NoneInvalidated()));
    g_variant_unref(pChanged);
}

void CMediaBus::EmitSeeked(int64_t nPositionUs)
{
    Emit(kPlayerInterface, "Seeked", g_variant_new("(x)", static_cast<gint64>(nPositionUs)));
}

void CMediaBus::Emit(const char* strInterface, const char* strSignal, GVariant* pParameters)
{
    g_dbus_connection_emit_signal(m_pConnection, nullptr, kObjectPath, strInterface, strSignal, pParameters, nullptr);
}

// GDBus has already answered calls of unknown methods and of the wrong
// argument types; what arrives here has the shape the interfaces declare.
void CMediaBus::OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar* strInterface,
    const gchar* strMethod, GVariant* pParameters, GDBusMethodInvocation* pInvocation, gpointer pThis)
{
    CMediaBus& bus = *static_cast<CMediaBus*>(pThis);
    if (std::string(strInterface) == kPlayerInterface) {
        bus.CallPlayer(strMethod, pParameters, pInvocation);
        return;
    }
    // Answered first: Quit ends the program.
    g_dbus_method_invocation_return_value(pInvocation, nullptr);
    if (std::string(strMethod) == "Raise")
        bus.m_target.Raise();
    else
        bus.m_target.Quit();
}

void CMediaBus::CallPlayer(const std::string& strMethod, GVariant* pParameters, GDBusMethodInvocation* pInvocation)
{
    if (strMethod == "OpenUri") {
        const gchar* strUri = nullptr;
        g_variant_get(pParameters, "(&s)", &strUri);
        OpenUri(strUri, pInvocation);
        return;
    }
    if (strMethod == "Next") {
        m_target.Next();
    } else if (strMethod == "Previous") {
        m_target.Previous();
    } else if (strMethod == "Pause") {
        m_target.Pause();
    } else if (strMethod == "PlayPause") {
        m_target.PlayPause();
    } else if (strMethod == "Stop") {
        m_target.Stop();
    } else if (strMethod == "Play") {
        m_target.Play();
    } else if (strMethod == "Seek") {
        gint64 nOffsetUs = 0;
        g_variant_get(pParameters, "(x)", &nOffsetUs);
        if (m_target.GetMediaState().bCanSeek)
            m_target.SeekBy(nOffsetUs);
    } else if (strMethod == "SetPosition") {
        const gchar* strTrackId = nullptr;
        gint64 nPositionUs = 0;
        g_variant_get(pParameters, "(&ox)", &strTrackId, &nPositionUs);
        SetPosition(strTrackId, nPositionUs);
    }
    g_dbus_method_invocation_return_value(pInvocation, nullptr);
}

// A position for a track that no longer plays, or outside the track, is
// ignored: the caller's view of the player is out of date.
void CMediaBus::SetPosition(const char* strTrackId, int64_t nPositionUs)
{
    const SMediaState state = m_target.GetMediaState();
    if (!state.bCanSeek || state.nTrack < 0 || TrackId(state.nTrack) != strTrackId)
        return;
    if (nPositionUs < 0 || nPositionUs > state.nLengthUs)
        return;
    m_target.SetPosition(state.nTrack, nPositionUs);
}

void CMediaBus::OpenUri(const char* strUri, GDBusMethodInvocation* pInvocation)
{
    gchar* strHost = nullptr;
    gchar* strPath = g_filename_from_uri(strUri, &strHost, nullptr);
    const bool bLocal = strPath && (!strHost || std::string(strHost) == "localhost");
    const bool bOpened = bLocal && m_target.OpenFile(strPath);
    g_free(strHost);
    g_free(strPath);
    if (!bLocal)
        g_dbus_method_invocation_return_error(
            pInvocation, G_DBUS_ERROR, G_DBUS_ERROR_NOT_SUPPORTED, "Only local file:// URIs are played: %s", strUri);
    else if (!bOpened)
        g_dbus_method_invocation_return_error(
            pInvocation, G_DBUS_ERROR, G_DBUS_ERROR_NOT_SUPPORTED, "Not a sound file the player plays: %s", strUri);
    else
        g_dbus_method_invocation_return_value(pInvocation, nullptr);
}

GVariant* CMediaBus::OnGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar* strInterface,
    const gchar* strName, GError** ppError, gpointer pThis)
{
    CMediaBus& bus = *static_cast<CMediaBus*>(pThis);
    GVariant* pValue = std::string(strInterface) == kRootInterface
        ? bus.RootProperty(strName)
        : bus.PlayerProperty(strName, bus.m_target.GetMediaState());
    if (!pValue)
        g_set_error(ppError, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", strName);
    return pValue;
}

gboolean CMediaBus::OnSetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* strName,
    GVariant* pValue, GError** ppError, gpointer pThis)
{
    return static_cast<CMediaBus*>(pThis)->SetPlayerProperty(strName, pValue, ppError);
}

// GDBus lets only the writable properties through, each with its declared type.
bool CMediaBus::SetPlayerProperty(const std::string& strName, GVariant* pValue, GError** ppError)
{
    if (strName == "LoopStatus") {
        const std::string strLoop = g_variant_get_string(pValue, nullptr);
        const auto pFound = std::find(std::begin(kLoopNames), std::end(kLoopNames), strLoop);
        if (pFound == std::end(kLoopNames)) {
            g_set_error(ppError, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "No loop status %s", strLoop.c_str());
            return false;
        }
        m_target.SetLoop(static_cast<EMediaLoop>(pFound - std::begin(kLoopNames)));
        return true;
    }
    const double dValue = g_variant_get_double(pValue);
    if (std::isnan(dValue) || (strName == "Rate" && dValue < 0)) {
        g_set_error(ppError, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "%s cannot be %g", strName.c_str(), dValue);
        return false;
    }
    if (strName == "Volume")
        m_target.SetVolume(std::max(0.0, dValue));
    else if (dValue == 0) // a rate of 0 stops the sound as a pause does
        m_target.Pause();
    else
        m_target.SetRate(std::clamp(dValue, m_identity.dMinimumRate, m_identity.dMaximumRate));
    return true;
}

GVariant* CMediaBus::RootProperty(const std::string& strName) const
{
    if (strName == "CanQuit" || strName == "CanRaise")
        return g_variant_new_boolean(TRUE);
    if (strName == "HasTrackList")
        return g_variant_new_boolean(FALSE);
    if (strName == "Identity")
        return NewText(m_identity.strName);
    if (strName == "DesktopEntry")
        return NewText(m_identity.strDesktopEntry);
    if (strName == "SupportedUriSchemes")
        return NewTextList({ "file" });
    if (strName == "SupportedMimeTypes")
        return NewTextList(m_identity.astrMimeTypes);
    return nullptr;
}

GVariant* CMediaBus::PlayerProperty(const std::string& strName, const SMediaState& state) const
{
    const std::pair<const char*, bool> aFlags[] = { { "CanGoNext", state.bCanGoNext },
        { "CanGoPrevious", state.bCanGoPrevious }, { "CanPlay", state.bCanPlay }, { "CanPause", state.bCanPause },
        { "CanSeek", state.bCanSeek }, { "CanControl", true } };
    for (const auto& flag : aFlags) {
        if (strName == flag.first)
            return g_variant_new_boolean(flag.second);
    }
    if (strName == "PlaybackStatus")
        return g_variant_new_string(kStatusNames[static_cast<int>(state.eStatus)]);
    if (strName == "LoopStatus")
        return g_variant_new_string(kLoopNames[static_cast<int>(state.eLoop)]);
    if (strName == "Rate")
        return g_variant_new_double(state.dRate);
    if (strName == "Volume")
        return g_variant_new_double(state.dVolume);
    if (strName == "Position")
        return g_variant_new_int64(state.nPositionUs);
    if (strName == "MinimumRate")
        return g_variant_new_double(m_identity.dMinimumRate);
    if (strName == "MaximumRate")
        return g_variant_new_double(m_identity.dMaximumRate);
    if (strName == "Metadata")
        return Metadata(state);
    return nullptr;
}

GVariant* CMediaBus::Metadata(const SMediaState& state) const
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    if (state.nTrack >= 0) {
        g_variant_builder_add(
            &builder, "{sv}", "mpris:trackid", g_variant_new_object_path(TrackId(state.nTrack).c_str()));
        g_variant_builder_add(&builder, "{sv}", "mpris:length", g_variant_new_int64(state.nLengthUs));
        if (!state.strTitle.empty())
            g_variant_builder_add(&builder, "{sv}", "xesam:title", NewText(state.strTitle));
        if (!state.strAlbum.empty())
            g_variant_builder_add(&builder, "{sv}", "xesam:album", NewText(state.strAlbum));
        if (!state.strArtist.empty())
            g_variant_builder_add(&builder, "{sv}", "xesam:artist", NewTextList({ state.strArtist }));
        if (gchar* strUrl = g_filename_to_uri(state.strPath.c_str(), nullptr, nullptr)) {
            g_variant_builder_add(&builder, "{sv}", "xesam:url", g_variant_new_string(strUrl));
            g_free(strUrl);
        }
        gchar* strArtUrl = state.strArtPath.empty() ? nullptr : g_filename_to_uri(state.strArtPath.c_str(), nullptr, nullptr);
        if (strArtUrl) {
            g_variant_builder_add(&builder, "{sv}", "mpris:artUrl", g_variant_new_string(strArtUrl));
            g_free(strArtUrl);
        }
    }
    return g_variant_builder_end(&builder);
}

// ---- CMediaControls ----

CMediaControls::CMediaControls(IMediaControlsTarget& target, const SMediaIdentity& identity)
{
    const std::string strAddress = SessionBusAddress();
    if (strAddress.empty())
        return;
    GDBusConnection* pConnection = g_dbus_connection_new_for_address_sync(strAddress.c_str(),
        static_cast<GDBusConnectionFlags>(
            G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!pConnection)
        return;
    // A bus that goes away takes the controls with it, not the player.
    g_dbus_connection_set_exit_on_close(pConnection, FALSE);
    m_pBus = std::make_unique<CMediaBus>(target, identity, pConnection);
    if (!m_pBus->IsServing())
        m_pBus.reset();
}

CMediaControls::~CMediaControls() = default;

void CMediaControls::PublishChanges()
{
    if (m_pBus)
        m_pBus->PublishChanges();
}

void CMediaControls::EmitSeeked(int64_t nPositionUs)
{
    if (m_pBus)
        m_pBus->EmitSeeked(nPositionUs);
}
