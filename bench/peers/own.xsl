<?xml version="1.0" encoding="UTF-8"?>
<!-- A style sheet of one's own: it copies every comment file unchanged, written
     so that it is not taken for a plain copy (the merged document is then
     transformed as a tree). -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="yes"/>
  <xsl:template match="*">
    <xsl:copy><xsl:copy-of select="@*"/><xsl:apply-templates/></xsl:copy>
  </xsl:template>
  <xsl:template match="comment()|processing-instruction()"><xsl:copy/></xsl:template>
</xsl:stylesheet>
