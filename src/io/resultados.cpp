// The report step: the final state written to saida.txt (unit 5), u.dat
// (unit 7) and p.dat (unit 8) through fixed-column formats, then the plotter
// on the two plot scripts and the editor on the report.

#include "io/resultados.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "io/format.hpp"
#include "io/launcher.hpp"
#include "io/output_file.hpp"

namespace moody {

namespace {

// The report's texts are Windows-1252 (Latin-1): one byte per letter.  The
// format texts below are written in UTF-8 source and converted once; every
// letter they use (ç ã õ é í ú á â Á ...) lies in U+0080..U+00FF.
std::string latin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t k = 0; k < utf8.size(); ++k) {
    const auto c = static_cast<unsigned char>(utf8[k]);
    if ((c == 0xC2 || c == 0xC3) && k + 1 < utf8.size()) {
      const auto next = static_cast<unsigned char>(utf8[++k]);
      out.push_back(static_cast<char>(((c & 0x03u) << 6) | (next & 0x3Fu)));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

Format report_format(std::string_view utf8) {
  return Format(latin1(utf8));
}

// The formats of the report, one per output statement, parsed once.
struct ReportFormats {
  Format title = report_format(
      "('Solução Numérica do Escoamento Unidimensional de Fluido Incompressível:',/,"
      "'Equações da Conservação da Massa e da Quantidade de Movimento Linear',/,"
      "'Problema de Moody',2/,'Dados de entrada')");
  Format N = report_format(
      "(/,T10,I9,T20,' = N:      número de volumes de controle (incluindo fictícios)')");
  Format L = report_format("(1P,E18.10,T20,' = L:      comprimento do domínio [m]')");
  Format mi = report_format("(1P,E18.10,T20,' = mi:     viscosidade absoluta [Pa.s]')");
  Format ro = report_format("(1P,E18.10,T20,' = ro:     massa específica [kg/m3]')");
  Format f = report_format("(1P,E18.10,T20,' = f:      fator de atrito de Darcy [adim.]')");
  Format Uin = report_format("(/,1P,E18.10,T20,' = Uin:    velocidade na entrada do duto [m/s]')");
  Format D0 = report_format("(1P,E18.10,T20,' = D0:     diâmetro de entrada do duto [m]')");
  Format cd =
      report_format("(1P,E18.10,T20,' = cd:     fator de expansão do diâmetro do duto [adim.]')");
  Format dt = report_format("(/,1P,E18.10,T20,' = dt:     passo de tempo [s]')");
  Format beta = report_format(
      "(1P,E18.10,T20,' = beta :  coeficiente do termo difusivo (funções de interpolação):  "
      "0 = UDS; 1 = CDS')");
  Format itmax = report_format("(/,T10,I9,T20,' = itmax:  número máximo de iterações (geral)')");
  Format itmaxm =
      report_format("(/,T10,I9,T20,' = itmaxm: número máximo de iterações (ciclo da massa)')");
  Format geometry_heading = report_format(
      "(2/,'Posições, diâmetros e áreas das seções transversais (pontos nodais)',2/,"
      "T3,'Volume i',T15,'Posição [m]',T40,'Diâmetro [m]',T65,'Área da seção transversal [m2]')");
  Format three_reals = report_format("(I10,3(1P,E25.15))");
  Format qml_heading = report_format(
      "(2/,'Coeficientes e termos-fontes (QML)',2/,"
      "T3,'Volume i',T15,'aW(i)',T40,'aP(i)',T65,'aE(i)',T90,'bP(i)')");
  Format four_reals = report_format("(I10,4(1P,E25.15))");
  Format massa_heading = report_format(
      "(2/,'Coeficientes e termos-fontes (MASSA)',2/,"
      "T3,'Volume i',T15,'aW(i)',T40,'aP(i)',T65,'aE(i)',T90,'bP(i)')");
  Format velocity_heading = report_format(
      "(2/,'Soluções numéricas - Velocidades nodais',2/,"
      "T5,'Volume',T16,'Posição [m]',T35,'Velocidade [m/s]')");
  Format indexed_row = report_format("(I10,1P,E20.9,1P,E25.15)");
  Format plot_row = report_format("(1P,E20.9,1P,E25.15)");
  Format pressure_heading = report_format(
      "(2/,'Soluções numéricas - Pressões',2/,T5,'Volume',T16,'Posição [m]',T35,'Pressão [Pa]')");
  Format correction_heading = report_format(
      "(2/,'Correções de pressão (p-linha) obtidas da Eq. da Massa',2/,"
      "T3,'Volume i',T15,'pl(i)')");
  Format mass_heading = report_format("(2/,'Massa do volume',2/,T3,'Volume i',T15,'Mp(i)')");
  Format flow_heading =
      report_format("(2/,'Vazões mássicas na face leste',2/,T3,'Volume i',T15,'Me(i)')");
  Format face_velocity_heading = report_format(
      "(2/,'Soluções numéricas - Velocidades nas faces',2/,"
      "T5,'Volume',T16,'Posição [m]',T35,'Velocidade [m/s]')");
};

const ReportFormats& formats() {
  static const ReportFormats fmt;
  return fmt;
}

template <class Out>
void write_coefficients(Out& out, const ReportFormats& fmt, const SimulationState& s,
                        const CoefficientSet& set) {
  for (int i = 1; i <= s.N; ++i) {
    out.write(fmt.four_reals, {i, set.aW(i), set.aP(i), set.aE(i), set.bP(i)});
  }
}

}  // namespace

std::vector<const Format*> report_formats() {
  const ReportFormats& f = formats();
  std::vector<const Format*> all = {
      &f.title,
      &f.N,
      &f.L,
      &f.mi,
      &f.ro,
      &f.f,
      &f.Uin,
      &f.D0,
      &f.cd,
      &f.dt,
      &f.beta,
      &f.itmax,
      &f.itmaxm,
      &f.geometry_heading,
      &f.three_reals,
      &f.qml_heading,
      &f.four_reals,
      &f.massa_heading,
      &f.velocity_heading,
      &f.indexed_row,
      &f.plot_row,
      &f.pressure_heading,
      &f.correction_heading,
      &f.mass_heading,
      &f.flow_heading,
      &f.face_velocity_heading,
  };
  // A format added to ReportFormats belongs in this list too.
  static_assert(sizeof(ReportFormats) == 26 * sizeof(Format));
  return all;
}

namespace {

// The records of the three files, in the order of the output statements:
// to the files themselves (OutputFile) or to their texts in memory (Text).
template <class Out>
void write_records(const SimulationState& s, Out& saida, Out& udat, Out& pdat) {
  const ReportFormats& fmt = formats();

  // Input echo.
  saida.write(fmt.title, {});
  saida.write(fmt.N, {s.N});
  saida.write(fmt.L, {s.L});
  saida.write(fmt.mi, {s.mi});
  saida.write(fmt.ro, {s.ro});
  saida.write(fmt.f, {s.f});
  saida.write(fmt.Uin, {s.Uin});
  saida.write(fmt.D0, {s.D0});
  saida.write(fmt.cd, {s.cd});
  saida.write(fmt.dt, {s.dt});
  saida.write(fmt.beta, {s.beta});
  saida.write(fmt.itmax, {s.itmax});
  saida.write(fmt.itmaxm, {s.itmaxm});

  // Grid and geometry.
  saida.write(fmt.geometry_heading, {});
  for (int i = 1; i <= s.N; ++i)
    saida.write(fmt.three_reals, {i, s.x(i), s.D(i), s.A(i)});

  // Both coefficient sets of the last iteration.
  saida.write(fmt.qml_heading, {});
  write_coefficients(saida, fmt, s, s.QML);
  saida.write(fmt.massa_heading, {});
  write_coefficients(saida, fmt, s, s.MASSA);

  // Nodal velocities and pressures, each row also a line of its plot file.
  saida.write(fmt.velocity_heading, {});
  for (int i = 1; i <= s.N; ++i) {
    saida.write(fmt.indexed_row, {i, s.x(i), s.u(i)});
    udat.write(fmt.plot_row, {s.x(i), s.u(i)});
  }
  saida.write(fmt.pressure_heading, {});
  for (int i = 1; i <= s.N; ++i) {
    saida.write(fmt.indexed_row, {i, s.x(i), s.p(i)});
    pdat.write(fmt.plot_row, {s.x(i), s.p(i)});
  }

  saida.write(fmt.correction_heading, {});
  for (int i = 1; i <= s.N; ++i)
    saida.write(fmt.indexed_row, {i, s.x(i), s.pl(i)});

  // Masses of the real volumes and mass flows of the faces: one real item for
  // a format of two, so each record ends after the 20-wide field.
  saida.write(fmt.mass_heading, {});
  for (int i = 2; i <= s.N - 1; ++i)
    saida.write(fmt.indexed_row, {i, s.Mp(i)});
  saida.write(fmt.flow_heading, {});
  for (int i = 1; i <= s.N - 1; ++i)
    saida.write(fmt.indexed_row, {i, s.Me(i)});

  saida.write(fmt.face_velocity_heading, {});
  for (int i = 1; i <= s.N - 1; ++i)
    saida.write(fmt.indexed_row, {i, s.xe(i), s.ue(i)});
}

// The records gathered in memory, as OutputFile gathers them.
struct Text {
  std::string bytes;
  void write(const Format& format, std::initializer_list<Item> items) {
    format.write(bytes, items);
  }
};

}  // namespace

ReportTexts report_texts(const SimulationState& s) {
  Text saida, udat, pdat;
  write_records(s, saida, udat, pdat);
  return {std::move(saida.bytes), std::move(udat.bytes), std::move(pdat.bytes)};
}

void write_results(SimulationState& s) {
  OutputFile saida("saida.txt", 5);
  OutputFile udat("u.dat", 7);
  OutputFile pdat("p.dat", 8);
  write_records(s, saida, udat, pdat);

  saida.close();
  udat.close();
  pdat.close();

  s.ier = launcher::system("wgnuplot u.gnu");
  s.ier = launcher::system("wgnuplot p.gnu");
  s.ier = launcher::system("notepad saida.txt");
}

}  // namespace moody
