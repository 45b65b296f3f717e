// The catalogued messages the module writes, by name. Set 854 is the
// procedure's own; 855 is data access, 860 file output. Their texts live in
// the host's catalog; kModuleMessages lists every one, so the catalog can be
// checked against it.
#pragma once

#include "module/host/host.h"

namespace qv::module {

using host::Msg;

// Plot options and variables.
inline constexpr Msg kMsgNotNumeric{854, 6};            // {1} option
inline constexpr Msg kMsgDiscreteOffset{854, 67};
inline constexpr Msg kMsgDAttrMapVariables{854, 68};
inline constexpr Msg kMsgNotAColor{854, 79};            // {1} text
inline constexpr Msg kMsgNoAttrId{854, 80};             // {1} ATTRID=
inline constexpr Msg kMsgAttrMapTaken{854, 81};         // {1} ATTRID=
inline constexpr Msg kMsgNotAFormat{854, 94};           // {1} tip item
inline constexpr Msg kMsgRAttrMapVariables{854, 103};
inline constexpr Msg kMsgAttrColumnNotNumeric{854, 110};  // {1} column
inline constexpr Msg kMsgAttrOutOfRange{854, 111};        // {1} column
inline constexpr Msg kMsgTooManyGradLegends{854, 114};
inline constexpr Msg kMsgGradPositionTaken{854, 115};   // {1} position code
// Range attribute map entries that drop their map ({1} map, {2} observation).
inline constexpr Msg kMsgRangeNoMin{854, 117};
inline constexpr Msg kMsgRangeBadMin{854, 118};
inline constexpr Msg kMsgRangeMinChars{854, 119};
inline constexpr Msg kMsgRangeBadMax{854, 120};
inline constexpr Msg kMsgRangeBlankMax{854, 121};
inline constexpr Msg kMsgNoRAttrId{854, 122};           // {1} RATTRID=
inline constexpr Msg kMsgRangeMapTaken{854, 123};       // {1} variable
inline constexpr Msg kMsgRangeNoMaxVariable{854, 125};  // {1} map
inline constexpr Msg kMsgAttrMapSequential{854, 134};   // {1} option

// The step.
inline constexpr Msg kMsgPlatform{854, 200};            // {1} procedure
inline constexpr Msg kMsgNoDataSet{854, 201};
inline constexpr Msg kMsgNoMapStatement{854, 202};
inline constexpr Msg kMsgSameMapAndResponse{854, 203};
inline constexpr Msg kMsgMapDataEmpty{854, 206};
inline constexpr Msg kMsgGraphFormat{854, 207};         // {1} format
inline constexpr Msg kMsgSecondOpenStreetMap{854, 208};
inline constexpr Msg kMsgSecondEsriMap{854, 209};
inline constexpr Msg kMsgEsriUrl{854, 210};
inline constexpr Msg kMsgDescription{854, 211};         // text: the default description
inline constexpr Msg kMsgNotCompiled{854, 212};
inline constexpr Msg kMsgTemplateWritten{854, 215};     // {1} file
inline constexpr Msg kMsgMapObjectName{854, 218};       // text: the map data object's name
inline constexpr Msg kMsgNoMapId{854, 219};
inline constexpr Msg kMsgMapIdUndescribed{854, 220};
inline constexpr Msg kMsgNoSizeNumber{854, 221};        // {1} number, {2}.{3} data set
inline constexpr Msg kMsgIdCharacterNumeric{854, 222};
inline constexpr Msg kMsgIdNumericCharacter{854, 223};
inline constexpr Msg kMsgNoDensity{854, 224};
inline constexpr Msg kMsgDensitySelected{854, 225};
inline constexpr Msg kMsgNoRenderer{854, 226};
inline constexpr Msg kMsgNoIdVariable{854, 227};        // {1}.{2} data set
inline constexpr Msg kMsgNoVariable{854, 228};          // {1} option, {2} variable, {3}.{4}
inline constexpr Msg kMsgUndescribed{854, 229};         // {1} number, {2}.{3} data set
inline constexpr Msg kMsgSizeNotNumeric{854, 230};      // {1} variable
inline constexpr Msg kMsgTileAlone{854, 231};
inline constexpr Msg kMsgNoResponseId{854, 232};
inline constexpr Msg kMsgResponseIdUndescribed{854, 233};
inline constexpr Msg kMsgResponseUnused{854, 234};      // {1}.{2} data set
inline constexpr Msg kMsgPlotDataUnused{854, 235};
inline constexpr Msg kMsgResponseDataEmpty{854, 236};
inline constexpr Msg kMsgPlotDataEmpty{854, 237};
inline constexpr Msg kMsgMapDataUnused{854, 238};
inline constexpr Msg kMsgMapDataSequential{854, 239};
inline constexpr Msg kMsgSeriesSequential{854, 240};
inline constexpr Msg kMsgRegionsLabel{854, 241};        // text: a region layer's legend label
inline constexpr Msg kMsgCoordinates{854, 242};         // {1} lon, {2} lat, {3} data set
inline constexpr Msg kMsgNoCoordinates{854, 243};
inline constexpr Msg kMsgTooFewColors{854, 244};
inline constexpr Msg kMsgTextUnprepared{854, 245};      // {1} option
inline constexpr Msg kMsgClassOptionIgnored{854, 246};  // {1} option
// Classes and palettes.
inline constexpr Msg kMsgFewerValuesThanClasses{854, 247};  // {1} classes asked, {2} values
inline constexpr Msg kMsgOutsideBreaks{854, 248};       // {1} count, {2} variable, {3}, {4} breaks
inline constexpr Msg kMsgBreaksNotAscending{854, 249};  // {1} break, {2} the one before
inline constexpr Msg kMsgTooFewBreaks{854, 251};
inline constexpr Msg kMsgRegionRowsDisagree{854, 252};  // {1} data set, {2} variable, {3} count, {4} ids
inline constexpr Msg kMsgPaletteGivesWay{854, 253};     // {1} the option whose colors are used
inline constexpr Msg kMsgUnknownPalette{854, 254};      // {1} name, {2} the known palettes
inline constexpr Msg kMsgPaletteUnused{854, 256};       // {1} statement
inline constexpr Msg kMsgBreaksOverride{854, 257};      // {1} option
inline constexpr Msg kMsgSymbolNotWord{854, 250};       // {1} symbol, {2} statement
inline constexpr Msg kMsgLeadingZeros{854, 255};        // {1} column, {2} data set, {3} file, {4} code
inline constexpr Msg kMsgNameTaken{854, 260};           // {1} name, {2} statement
inline constexpr Msg kMsgResponseDataUnused{854, 261};
// Region layers of their own map data.
inline constexpr Msg kMsgLayerDataEmpty{854, 262};      // {1}.{2} data set
inline constexpr Msg kMsgFillOfOwnMapData{854, 263};
inline constexpr Msg kMsgMapCsWithoutMapData{854, 264};
inline constexpr Msg kMsgIdOfOwnMapData{854, 265};
inline constexpr Msg kMsgResponseDataNoLayer{854, 266};
inline constexpr Msg kMsgMapDataNoLayer{854, 267};

// Data access and file output.
inline constexpr Msg kMsgNotReadable{855, 7};
inline constexpr Msg kMsgTemplateNotWritten{860, 45};   // {1} file

inline constexpr Msg kModuleMessages[] = {
    kMsgNotNumeric,        kMsgDiscreteOffset,       kMsgDAttrMapVariables,
    kMsgNotAColor,         kMsgNoAttrId,             kMsgAttrMapTaken,
    kMsgNotAFormat,        kMsgRAttrMapVariables,    kMsgAttrColumnNotNumeric,
    kMsgAttrOutOfRange,    kMsgTooManyGradLegends,   kMsgGradPositionTaken,
    kMsgRangeNoMin,        kMsgRangeBadMin,          kMsgRangeMinChars,
    kMsgRangeBadMax,       kMsgRangeBlankMax,        kMsgNoRAttrId,
    kMsgRangeMapTaken,     kMsgRangeNoMaxVariable,   kMsgAttrMapSequential,
    kMsgPlatform,          kMsgNoDataSet,            kMsgNoMapStatement,
    kMsgSameMapAndResponse, kMsgMapDataEmpty,        kMsgGraphFormat,
    kMsgSecondOpenStreetMap, kMsgSecondEsriMap,      kMsgEsriUrl,
    kMsgDescription,       kMsgNotCompiled,          kMsgTemplateWritten,
    kMsgMapObjectName,     kMsgNoMapId,              kMsgMapIdUndescribed,
    kMsgNoSizeNumber,      kMsgIdCharacterNumeric,   kMsgIdNumericCharacter,
    kMsgNoDensity,         kMsgDensitySelected,      kMsgNoRenderer,
    kMsgNoIdVariable,      kMsgNoVariable,           kMsgUndescribed,
    kMsgSizeNotNumeric,    kMsgTileAlone,            kMsgNoResponseId,
    kMsgResponseIdUndescribed, kMsgResponseUnused,   kMsgPlotDataUnused,
    kMsgResponseDataEmpty, kMsgPlotDataEmpty,        kMsgMapDataUnused,
    kMsgMapDataSequential, kMsgSeriesSequential,     kMsgRegionsLabel,
    kMsgCoordinates,       kMsgNoCoordinates,        kMsgTooFewColors,
    kMsgTextUnprepared,    kMsgClassOptionIgnored,   kMsgSymbolNotWord,
    kMsgFewerValuesThanClasses, kMsgOutsideBreaks,   kMsgBreaksNotAscending,
    kMsgTooFewBreaks,      kMsgRegionRowsDisagree,   kMsgPaletteGivesWay,
    kMsgUnknownPalette,    kMsgPaletteUnused,        kMsgBreaksOverride,
    kMsgLeadingZeros,      kMsgNameTaken,            kMsgResponseDataUnused,
    kMsgLayerDataEmpty,    kMsgFillOfOwnMapData,     kMsgMapCsWithoutMapData,
    kMsgIdOfOwnMapData,    kMsgResponseDataNoLayer,  kMsgMapDataNoLayer,
    kMsgNotReadable,       kMsgTemplateNotWritten,
};

}  // namespace qv::module
